#include "term/terminal_outbox.h"

#include <algorithm>
#include <thread>

namespace term {

namespace {

// The run flag is looked at this often while a break lasts.
constexpr std::chrono::milliseconds kBreakSlice{20};

void holdFor(std::chrono::milliseconds length, const std::atomic<bool> &running) {
    const auto end = std::chrono::steady_clock::now() + length;
    while (running.load() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(kBreakSlice);
}

} // namespace

qint64 TerminalOutbox::queueBytes(const char *data, qint64 size, bool wake) {
    qint64 taken = 0;
    {
        const std::lock_guard lock(m_mutex);
        taken = std::min(size, m_capacity - m_queuedBytes);
        if (taken <= 0)
            return 0;
        // The worker takes the front item out while it writes it: the back is the owner's.
        if (m_items.empty() || m_items.back().command)
            m_items.push_back({});
        m_items.back().bytes.append(data, taken);
        m_queuedBytes += taken;
        m_hasWork = true;
    }
    if (wake)
        m_wake.signal();
    return taken;
}

void TerminalOutbox::queueCommand(PortCommand command) {
    {
        const std::lock_guard lock(m_mutex);
        m_items.push_back({{}, command});
        m_hasWork = true;
    }
    m_wake.signal();
}

qint64 TerminalOutbox::room() const {
    const std::lock_guard lock(m_mutex);
    return m_capacity - m_queuedBytes;
}

void TerminalOutbox::clear() {
    const std::lock_guard lock(m_mutex);
    m_items.clear();
    m_queuedBytes = 0;
    m_hasWork = false;
}

PortService TerminalOutbox::serve(serial::Port &port, const std::atomic<bool> &running,
                                  qint64 &written, std::vector<CommandDone> &done) {
    if (!m_hasWork.load())
        return PortService::Done;
    for (;;) {
        Item item;
        {
            const std::lock_guard lock(m_mutex);
            if (m_items.empty()) {
                m_hasWork = false;
                return PortService::Done;
            }
            item = std::move(m_items.front());
            m_items.pop_front();
        }
        if (item.command) {
            done.push_back(carryOut(port, *item.command, running));
            continue;
        }
        // What the port takes now; the rest waits for the next turn, so that a device holding
        // the line off never keeps the worker from reading.
        const serial::WriteResult result = port.write(item.bytes.constData(), item.bytes.size(),
                                                      std::chrono::milliseconds(0), running);
        written += result.taken;
        const std::lock_guard lock(m_mutex);
        m_queuedBytes -= result.taken;
        if (result.taken < item.bytes.size()) {
            m_items.push_front({item.bytes.mid(result.taken), std::nullopt});
            return result.status == serial::WriteStatus::Failed ? PortService::Failed
                                                                : PortService::Pending;
        }
    }
}

CommandDone TerminalOutbox::carryOut(serial::Port &port, PortCommand command,
                                     const std::atomic<bool> &running) {
    CommandDone result{command, false, std::nullopt};
    switch (command) {
    case PortCommand::BreakSignal:
        result.done = port.setBreak(true);
        if (result.done) {
            holdFor(kBreakLength, running);
            port.setBreak(false);
        }
        break;
    case PortCommand::DtrOn:
    case PortCommand::DtrOff:
        result.done = port.setDtr(command == PortCommand::DtrOn);
        break;
    case PortCommand::RtsOn:
    case PortCommand::RtsOff:
        result.done = port.setRts(command == PortCommand::RtsOn);
        break;
    case PortCommand::DtrPulse:
        result.done = serial::pulseLine(port, {serial::ModemLine::Dtr, kResetPulse}, running);
        break;
    case PortCommand::ReadLines:
        result.lines = port.inputLines();
        result.done = result.lines.has_value();
        break;
    }
    return result;
}

} // namespace term
