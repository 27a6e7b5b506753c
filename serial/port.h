// A port a transfer reads from and writes to: the local terminal (serial/serial_port.h) or a
// serial server across the network. The sessions know only this interface; openPort
// (serial/port_config.h) picks the implementation by the port's name. Every wait is bounded and
// looks at the caller's run flag, so a worker holding a port can always be stopped.
#pragma once

#include "platform/wake_event.h"
#include "serial/line_state.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>

namespace serial {

enum class WriteStatus {
    Complete,       // every byte went out (see Port::completion)
    DeadlinePassed, // `taken` bytes went out before the time-out
    Stopped,        // the run flag dropped after `taken` bytes
    Failed,         // the port refused (hung up, closed, connection lost) after `taken` bytes
};

struct WriteResult {
    WriteStatus status = WriteStatus::Failed;
    qint64 taken = 0;
    int error = 0; // errno of a failed write, when the system gave one
};

// Woken: one of the wait's wake descriptors became readable, and no input came.
enum class Readiness { Readable, TimedOut, HungUp, Woken };

// The modem lines a device drives, where the port can tell them.
struct InputLines {
    bool cts = false;
    bool dsr = false;
    bool dcd = false;
    bool ri = false;
};

// Where a write counts as complete, and so where a per-byte pause is measured from.
enum class Completion {
    OnTheLine,      // the device's output queue is empty: the byte is on the wire
    AtThisEnd,      // the byte has left this machine (a network port: the server queues it on)
    InKernelBuffer, // the kernel has the byte (a pseudo-terminal: its reader takes it later)
};

class Port {
public:
    virtual ~Port() = default;

    virtual bool isOpen() const = 0;
    // Releases the port (and whatever marks it as held); a port may be closed twice.
    virtual void close() = 0;

    // Applies the line settings. What the port did not take, one text per setting naming what
    // it kept ("baud rate 38400 instead of 4000000000"); empty when it took everything asked
    // for. A setting left at -1 (a rate of 0) is not asked for.
    virtual QStringList configure(const LineSettings &settings) = 0;
    // Drops both queues.
    virtual bool purge() = 0;
    // Drops what is still queued for output, so that it does not go out later (once flow
    // control releases the line) and a close does not wait for it: the bytes dropped, where the
    // driver tells (0 where it does not: a pseudo-terminal, a server).
    virtual qint64 dropOutput() = 0;
    // These fail (false) where the device has no modem lines or no RS485, as a pty has not.
    virtual bool setDtr(bool on) = 0;
    virtual bool setRts(bool on) = 0;
    virtual bool enableRs485() = 0;
    // Holds the line in the break condition, or ends it; false where the port cannot.
    virtual bool setBreak(bool on) = 0;
    // None where the port cannot tell (a pty, a server across the network).
    virtual std::optional<InputLines> inputLines() const { return std::nullopt; }

    // Takes what is queued, up to capacity, without waiting: the count, 0 for none, -1 on error.
    virtual qint64 read(char *buffer, qint64 capacity) = 0;
    // Waits up to timeoutMs for input, or until one of `wake`'s descriptors is readable (each
    // that fired is marked there, also when input came). After a hang-up this returns at once
    // every time (once the bytes that came before it are read), so a caller keeps its own pace.
    virtual Readiness waitReadable(int timeoutMs, platform::WakeSet *wake) = 0;
    Readiness waitReadable(int timeoutMs) { return waitReadable(timeoutMs, nullptr); }
    // Writes without ever blocking for long: towards the time-out (none: until done or the run
    // flag drops), looking at the run flag at least every 50 ms.
    virtual WriteResult write(const char *data, qint64 size,
                              std::optional<std::chrono::milliseconds> timeout,
                              const std::atomic<bool> &running) = 0;
    virtual Completion completion() const = 0;
    // A send has written its last byte and nothing more will be written: a port whose bytes go
    // on through a server lets it write out what it holds before the port is closed (bounded,
    // ending early when `running` drops). Empty, or why the bytes may not have arrived (the
    // server reset the connection, or ended it before the send did). A local port has nothing
    // to do: its writes complete when its output queue is empty.
    virtual QString finishOutput(const std::atomic<bool> &running) {
        (void)running;
        return {};
    }
};

} // namespace serial
