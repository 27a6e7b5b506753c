// Serial servers for the network port's tests: a real ser2net with a pty as its device, a
// small recording server that speaks just enough RFC 2217 to answer, and an address on this
// machine that never answers a connection.
#pragma once

#include "tests/test_pty.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace testsupport {

// A TCP port on 127.0.0.1 that nobody listens on right now.
quint16 freeTcpPort();

// ser2net in the foreground on 127.0.0.1, the test's pty as its device. start() fails the
// test, saying why, when ser2net does not come up (it refuses to start where the machine has
// no address but loopback).
class Ser2net {
public:
    enum class Protocol { Rfc2217, RawTcp };
    // With a device path, ser2net serves that instead of the pty (a missing one: a server that
    // accepts, says "Device open failure" and hangs up).
    explicit Ser2net(Protocol protocol = Protocol::Rfc2217, const QString &devicePath = {});
    ~Ser2net();
    // Starts it and waits until it accepts connections; true when it does.
    bool start();
    // SIGTERM, then SIGKILL if it has not ended within a second.
    void stop();
    QString portName() const;
    Pty &device() { return m_device; }
    const QString &failure() const { return m_failure; }

private:
    Protocol m_protocol;
    quint16 m_port;
    Pty m_device;
    QString m_devicePath;
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_failure;
};

// Reads the device on a thread of its own while it lives. ser2net flushes the device's output
// when a connection ends, and on a pty that drops what the master has not read yet: a reader
// that also runs the window's event loop falls behind at the end of a large send.
class DeviceReader {
public:
    explicit DeviceReader(Pty &device);
    ~DeviceReader();
    // Waits, the event loop running, up to timeoutMs for `size` bytes; what came, at most that.
    QByteArray take(qsizetype size, int timeoutMs);

private:
    int m_master;
    std::atomic<bool> m_running{true};
    std::mutex m_mutex;
    QByteArray m_received;
    std::thread m_thread;
};

// A server of the test's own on 127.0.0.1: accepts connections one after another, hands each
// to `serve` on its own thread (the socket, a flag that drops at the end) and records every
// byte it received. Stops, and joins its thread, when it goes.
class FakeServer {
public:
    using Serve = std::function<void(int socket, const std::atomic<bool> &running)>;
    explicit FakeServer(Serve serve);
    ~FakeServer();
    quint16 port() const { return m_port; }
    QByteArray received() const;
    // Reads what the client sent within the time (recorded) without blocking for longer; false
    // once the client has closed or the socket failed.
    static bool drain(int socket, FakeServer &server, int timeoutMs);

    void record(const char *data, qsizetype size);

private:
    void run();
    Serve m_serve;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_running{true};
    mutable std::mutex m_mutex;
    QByteArray m_received;
    std::thread m_thread;
};

// A listening socket whose queue is full: a connection to it is never answered.
class SilentAddress {
public:
    SilentAddress();
    ~SilentAddress();
    quint16 port() const { return m_port; }

private:
    int m_listener = -1;
    quint16 m_port = 0;
    std::vector<int> m_queued;
};

// Every byte value (CR, NUL, LF and 0xFF among them) after a first 'R', then random bytes.
QByteArray everyByteValue(qsizetype size);

// The line a client set on the device, as the pty's master reports it while the client is
// connected: the rate, and of the flags what a pty keeps (stop bits, which parity, flow
// control; never the parity bit itself or the data bits).
struct DeviceLine {
    std::uint32_t baud = 0;
    unsigned cflags = 0; // of CSTOPB, PARODD, CMSPAR, CRTSCTS
    unsigned iflags = 0; // of IXON, IXOFF
};
// Reads `size` bytes from the device (a DeviceReader), taking its line once the first has come.
QByteArray readWithLine(Pty &device, qsizetype size, DeviceLine &line);

// Memory the process holds now, from /proc (kB); -1 when it cannot be read.
long residentKb(qint64 pid);

} // namespace testsupport
