// A serial port across the network: a serial server's TCP port, spoken to in Telnet with the Com
// Port Control option (RFC 2217), or as a raw TCP stream that carries the bytes only.
#pragma once

#include "serial/network_address.h"
#include "serial/port.h"
#include "serial/telnet_codec.h"

#include <QString>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>

namespace serial {

// Resolves the host and connects, within `timeout` in all, looking at *running (if given) at
// least every 50 ms: the connected socket (non-blocking, Nagle off) or -1 with the reason. A
// resolver that hangs is left behind, never waited for.
int connectBounded(const NetworkAddress &address, std::chrono::milliseconds timeout,
                   const std::atomic<bool> *running, QString &reason);

class NetworkPort final : public Port {
public:
    NetworkPort() = default;
    ~NetworkPort() override;
    NetworkPort(const NetworkPort &) = delete;
    NetworkPort &operator=(const NetworkPort &) = delete;

    // Connects (see connectBounded) and, for RFC 2217, asks for binary transmission both ways
    // and the Com Port option.
    bool open(const NetworkAddress &address, std::chrono::milliseconds timeout,
              const std::atomic<bool> *running);
    // Why the last open failed, in the system's words.
    const QString &openError() const { return m_openError; }
    bool isOpen() const override { return m_fd >= 0; }
    void close() override;
    // False for raw TCP, which carries no line settings, no purge and no modem lines.
    bool sendsLineSettings() const { return m_telnet.has_value(); }
    // The server answered none of the line settings of the last configure (nor refused the
    // option): they may or may not have been applied.
    bool settingsUnconfirmed() const { return m_settingsUnconfirmed; }
    // Empty while the connection is still open `wait` after the configuration; else why the
    // open failed: a server whose device is missing accepts, says so and hangs up ("the server
    // closed the connection (Device open failure: ...)", with its own text, cleaned and cut).
    QString endedAtOpen(std::chrono::milliseconds wait);

    // Sends the settings and waits (about a second at most, ending early when *running drops)
    // for the server's answers; what it answered with another value is what it kept. Bytes
    // from the device that come meanwhile are dropped, as the purge of the open drops them.
    QStringList configure(const LineSettings &settings, const std::atomic<bool> *running);
    QStringList configure(const LineSettings &settings) override {
        return configure(settings, nullptr);
    }
    bool purge() override {
        return request(telnet::ComPortCommand::PurgeData, telnet::Purge::Both);
    }
    qint64 dropOutput() override {
        request(telnet::ComPortCommand::PurgeData, telnet::Purge::Transmit);
        return 0;
    }
    bool setDtr(bool on) override {
        return request(telnet::ComPortCommand::SetControl,
                       on ? telnet::Control::DtrOn : telnet::Control::DtrOff);
    }
    bool setRts(bool on) override {
        return request(telnet::ComPortCommand::SetControl,
                       on ? telnet::Control::RtsOn : telnet::Control::RtsOff);
    }
    bool enableRs485() override { return false; }
    bool setBreak(bool on) override {
        return request(telnet::ComPortCommand::SetControl,
                       on ? telnet::Control::BreakOn : telnet::Control::BreakOff);
    }

    qint64 read(char *buffer, qint64 capacity) override;
    using Port::waitReadable;
    Readiness waitReadable(int timeoutMs, platform::WakeSet *wake) override;
    // Complete when the socket has taken every byte: each write leaves in a segment of its own.
    WriteResult write(const char *data, qint64 size,
                      std::optional<std::chrono::milliseconds> timeout,
                      const std::atomic<bool> &running) override;
    Completion completion() const override { return Completion::AtThisEnd; }
    // Says the sending is over (FIN) and gives the server up to a second to write out what it
    // holds and close its side; the connection then carries nothing more. A server that reset
    // the connection, or ended it before the send did, may not have taken the last bytes.
    QString finishOutput(const std::atomic<bool> &running) override;

private:
    template <class Value> bool request(telnet::ComPortCommand command, Value value) {
        return request(command, static_cast<std::uint32_t>(value));
    }
    bool request(telnet::ComPortCommand command, std::uint32_t value);
    // Sends what the outbox holds, without waiting; false when the connection is gone.
    bool flushOutbox();
    // One non-blocking send of the data at the front: the data bytes it took, -1 on a failure.
    qint64 sendSome(const char *data, qint64 size);
    bool answered(const std::vector<telnet::ComPortRequest> &requests) const;
    bool answeredNone(const std::vector<telnet::ComPortRequest> &requests) const;
    // Keeps the start of what the server sent while the port was being opened: its reason,
    // should it hang up.
    void keepOpenText(const char *data, qint64 size);

    int m_fd = -1;
    QString m_openError;
    QByteArray m_openText;
    bool m_settingsUnconfirmed = false;
    // Whatever came from the server after the connection ended: nothing more will.
    std::atomic<bool> m_peerClosed{false};
    // This side said the sending is over: no request may follow.
    std::atomic<bool> m_writeShut{false};
    // Sends come from the worker (data) and the owner (DTR at an abort): one at a time, and never
    // between the two halves of a doubled 0xFF. Reads decode under it too (their answers).
    mutable std::mutex m_sendMutex;
    std::optional<telnet::Client> m_telnet;
};

} // namespace serial
