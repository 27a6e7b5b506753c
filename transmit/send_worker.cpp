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

// The send loop of SendWorker; false when the send file could not be read.
bool sendChunks(TerminalDialog &dialog, std::uint64_t transfer) {
    char buffer[transmit::kChunkSize];
    const auto progress = std::make_shared<transmit::ProgressMailbox>();
    qint64 total = 0;
    while (dialog.m_running) {
        if (!dialog.m_mode2 && dialog.m_writePending) {
            std::this_thread::sleep_for(kPendingPause);
            continue;
        }
        const qint64 n = dialog.m_captureFile.read(buffer, sizeof buffer);
        if (n <= 0)
            return n == 0;
        const auto count = static_cast<std::uint32_t>(n);
        if (dialog.m_sendDelay == transmit::kWholeChunks) {
            if (!(dialog.m_mode2 ? dialog.WriteOnce(buffer, count)
                                 : dialog.WriteFully(buffer, count)))
                break;
        } else {
            dialog.SendChunkDelayed(buffer, count);
            // An Abort inside the chunk: its remaining bytes were not sent.
            if (!dialog.m_running)
                break;
        }
        total += n;
        progress->report(total, dialog.m_captureFile.size(), [&] {
            dialog.postToUi(transfer, [&dialog, progress] {
                const auto [sent, length] = progress->take();
                dialog.setWindowTitle(transmit::sendTitle(sent, length));
                dialog.m_progress->setValue(transmit::ProgressScale(length).position(sent));
            });
        });
    }
    return true;
}

} // namespace

void TerminalDialog::SendWorker(std::uint64_t transfer) {
    // Without the right to real-time scheduling the send goes on at normal priority.
    platform::raiseToTimeCritical();
    m_hPort->setDtr(true);
    const bool readable = sendChunks(*this, transfer);
    // The file's name, not m_sendFileName: the UI thread may exchange that member meanwhile.
    const QString path = m_captureFile.fileName();
    m_captureFile.close();
    if (!readable) {
        postToUi(transfer, [this, path] {
            platform::messageBox(this, QStringLiteral("Could not read file ") + path);
        });
        // The send has ended in failure; the editor's reply is not awaited.
        m_replyMonitor = false;
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
bool TerminalDialog::WriteFully(const char *data, std::uint32_t count) {
    m_writePending = true;
    qint64 left = count;
    while (m_running) {
        const serial::WriteResult result =
            m_hPort->write(data, left, serial::writeTimeout(m_writeMultiplier, left), m_running);
        if (result.status == serial::WriteStatus::Complete || result.taken == left) {
            m_writePending = false;
            return true;
        }
        if (result.status != serial::WriteStatus::DeadlinePassed)
            return false;
        data += result.taken;
        left -= result.taken;
    }
    return false;
}

// Mode 2: one write; what its time-out left over is dropped.
bool TerminalDialog::WriteOnce(const char *data, std::uint32_t count) {
    if (!m_running)
        return false;
    const serial::WriteResult result =
        m_hPort->write(data, count, serial::writeTimeout(m_writeMultiplier, count), m_running);
    return result.status == serial::WriteStatus::Complete ||
           result.status == serial::WriteStatus::DeadlinePassed;
}

// Each byte's write is complete (the output queue empty) before its delay starts, so the
// delay is the gap the device sees between bytes.
void TerminalDialog::SendChunkDelayed(const char *data, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count && m_running; ++i) {
        if (m_mode2)
            WriteOnce(data + i, 1);
        else
            WriteFully(data + i, 1);
        transmit::WaitMicroseconds(transmit::delayMicroseconds(m_sendDelay), m_running);
    }
}
