// SendWorker and the two port writers. The worker reads the send file in chunks and writes
// them whole, or byte by byte with a busy-waited delay; the delay and the mode are read afresh
// for every chunk and every byte, so a data exchange during the send changes them at once.
#include "app/terminal_dialog.h"
#include "platform/thread_priority.h"
#include "platform/ui.h"
#include "serial/baud.h"
#include "serial/serial_port.h"
#include "transmit/send_logic.h"

#include <QProgressBar>

#include <chrono>
#include <memory>

namespace {

// Pause of a mode-1 worker whose last write has not gone out in full.
constexpr auto kPendingPause = std::chrono::milliseconds(25);

// How a send ended, and how many bytes really went out.
enum class SendEnd { Done, Stopped, ReadFailed, WriteFailed };
struct SendOutcome {
    SendEnd end = SendEnd::Done;
    qint64 sent = 0;
};

// The send loop of SendWorker.
SendOutcome sendChunks(TerminalDialog &dialog, std::uint64_t transfer) {
    char buffer[transmit::kChunkSize];
    const auto progress = std::make_shared<transmit::ProgressMailbox>();
    const auto show = [&](qint64 total) {
        progress->report(total, dialog.m_captureFile.size(), [&] {
            dialog.postToUi(transfer, [&dialog, progress] {
                const auto [sent, length] = progress->take();
                dialog.setWindowTitle(transmit::sendTitle(sent, length));
                dialog.m_progress->setValue(transmit::ProgressScale(length).position(sent));
            });
        });
    };
    qint64 total = 0;
    while (dialog.m_running) {
        if (!dialog.m_mode2 && dialog.m_writePending) {
            std::this_thread::sleep_for(kPendingPause);
            continue;
        }
        const qint64 n = dialog.m_captureFile.read(buffer, sizeof buffer);
        if (n <= 0)
            return {n == 0 ? SendEnd::Done : SendEnd::ReadFailed, total};
        const auto count = static_cast<std::uint32_t>(n);
        const transmit::ChunkResult written =
            dialog.m_sendDelay == transmit::kWholeChunks
                ? (dialog.m_mode2 ? dialog.WriteOnce(buffer, count)
                                  : dialog.WriteFully(buffer, count))
                : dialog.SendChunkDelayed(buffer, count);
        if (written.end != transmit::WriteEnd::Written) {
            // The title shows what really went out, also of a chunk cut short.
            total += written.taken;
            show(total);
            return {written.end == transmit::WriteEnd::Failed ? SendEnd::WriteFailed
                                                              : SendEnd::Stopped,
                    total};
        }
        total += n;
        show(total);
    }
    return {SendEnd::Stopped, total};
}

} // namespace

void TerminalDialog::SendWorker(std::uint64_t transfer) {
    // Without the right to real-time scheduling the send goes on at normal priority.
    platform::raiseToTimeCritical();
    m_hPort->setDtr(true);
    const SendOutcome outcome = sendChunks(*this, transfer);
    // Not m_sendFileName: the UI thread may exchange that member meanwhile.
    const QString path = m_transferPath;
    m_captureFile.close();
    if (outcome.end == SendEnd::ReadFailed || outcome.end == SendEnd::WriteFailed) {
        m_hPort->setDtr(false);
        // The send has ended in failure; the editor's reply is not awaited.
        m_replyMonitor = false;
        const bool readFailed = outcome.end == SendEnd::ReadFailed;
        postToUi(transfer, [this, path, readFailed] {
            OnAbort();
            // The port combo is disabled while a send runs: it still names the port used.
            platform::messageBox(this, readFailed
                                           ? QStringLiteral("Could not read file ") + path
                                           : QStringLiteral("Could not write port ") + m_portName);
        });
        return;
    }
    if (m_replyMonitor) {
        m_stopMonitor = false;
        ReplyMonitor(transfer);
        return;
    }
    postToUi(transfer, [this] { OnAbort(); });
    m_hPort->setDtr(false);
}

// Mode 1: the bytes a write time-out left over are offered again until all are out or the
// session stops.
transmit::ChunkResult TerminalDialog::WriteFully(const char *data, std::uint32_t count) {
    m_writePending = true;
    qint64 done = 0;
    while (m_running) {
        const qint64 left = count - done;
        const serial::WriteResult result = m_hPort->write(
            data + done, left, serial::writeTimeout(m_writeMultiplier, left), m_running);
        done += result.taken;
        if (result.status == serial::WriteStatus::Complete || done == count) {
            m_writePending = false;
            return {transmit::WriteEnd::Written, count};
        }
        if (result.status == serial::WriteStatus::Failed)
            return {transmit::WriteEnd::Failed, done};
        if (result.status != serial::WriteStatus::DeadlinePassed)
            break;
    }
    return {transmit::WriteEnd::Stopped, done};
}

// Mode 2: one write; what its time-out left over is dropped, but a port that refuses the
// write ends the send.
transmit::ChunkResult TerminalDialog::WriteOnce(const char *data, std::uint32_t count) {
    if (!m_running)
        return {transmit::WriteEnd::Stopped, 0};
    const serial::WriteResult result =
        m_hPort->write(data, count, serial::writeTimeout(m_writeMultiplier, count), m_running);
    switch (result.status) {
    case serial::WriteStatus::Complete:
    case serial::WriteStatus::DeadlinePassed:
        return {transmit::WriteEnd::Written, count};
    case serial::WriteStatus::Failed:
        return {transmit::WriteEnd::Failed, result.taken};
    case serial::WriteStatus::Stopped:
        break;
    }
    return {transmit::WriteEnd::Stopped, result.taken};
}

// Each byte's write is complete (the output queue empty) before its delay starts, so the
// delay is the gap the device sees between bytes.
transmit::ChunkResult TerminalDialog::SendChunkDelayed(const char *data, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i) {
        const transmit::ChunkResult byte = m_mode2 ? WriteOnce(data + i, 1) : WriteFully(data + i, 1);
        if (byte.end != transmit::WriteEnd::Written)
            return {byte.end, qint64(i) + byte.taken};
        transmit::WaitMicroseconds(transmit::delayMicroseconds(m_sendDelay), m_running);
    }
    return {transmit::WriteEnd::Written, count};
}
