// What a terminal has for its port: the bytes typed and the commands (a break, the modem
// lines, a look at the input lines), queued by the owner without ever waiting and carried out
// in order by the capture worker that holds the port (see CaptureOptions::service). The bytes
// queued are bounded: a device that takes nothing cannot make the queue grow.
#pragma once

#include "capture/capture_session.h"
#include "platform/wake_event.h"
#include "serial/modem_lines.h"
#include "serial/port.h"

#include <QByteArray>
#include <QtGlobal>
#include <atomic>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace term {

enum class PortCommand { BreakSignal, DtrOn, DtrOff, RtsOn, RtsOff, DtrPulse, ReadLines };

// A command carried out: whether the port did it, and the lines read by ReadLines.
struct CommandDone {
    PortCommand command = PortCommand::ReadLines;
    bool done = false;
    std::optional<serial::InputLines> lines;
};

inline constexpr qint64 kOutboxCapacity = 64 * 1024;
inline constexpr std::chrono::milliseconds kBreakLength{250};
inline constexpr std::chrono::milliseconds kResetPulse{100};

class TerminalOutbox {
public:
    explicit TerminalOutbox(qint64 capacity = kOutboxCapacity) : m_capacity(capacity) {}

    // Queues what fits; the count taken (all, fewer, or 0 when the queue is full). The worker
    // that serves the queue next queues without a wake-up.
    qint64 queueBytes(const char *data, qint64 size, bool wake = true);
    void queueCommand(PortCommand command);
    qint64 room() const;
    // Drops everything queued (the device went away: what was typed for it is stale).
    void clear();
    int wakeFd() const { return m_wake.fd(); }
    // Worker: the wake-up it saw is taken; what is queued stays for serve() (or clear()).
    void takeWake() { m_wake.clear(); }

    // Worker: carries out what is queued, in order. The bytes written and the commands done
    // are added to `written` and `done`.
    PortService serve(serial::Port &port, const std::atomic<bool> &running, qint64 &written,
                      std::vector<CommandDone> &done);

private:
    struct Item {
        QByteArray bytes;
        std::optional<PortCommand> command;
    };
    static CommandDone carryOut(serial::Port &port, PortCommand command,
                                const std::atomic<bool> &running);

    const qint64 m_capacity;
    mutable std::mutex m_mutex;
    std::deque<Item> m_items;
    qint64 m_queuedBytes = 0;
    // Something is queued: a worker step without work costs no lock and no system call.
    std::atomic<bool> m_hasWork{false};
    platform::WakeEvent m_wake;
};

} // namespace term
