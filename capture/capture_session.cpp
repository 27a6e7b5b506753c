// "Start" and "Stop" of the "Input" group and the worker that writes what the port receives
// into the capture file.
#include "app/terminal_dialog.h"
#include "capture/capture_naming.h"
#include "hexedit/hex_list_box.h"
#include "platform/files.h"
#include "platform/thread_priority.h"
#include "platform/ui.h"
#include "serial/serial_port.h"

#include <chrono>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int64_t kReceiveBufferSize = 65536;
// The longest wait for input, the shortest pause when nothing can be read, and the least time
// between two title updates.
constexpr std::chrono::milliseconds kPace(50);
// One drain takes at most this much before the run flag is looked at again, so that a device
// that never pauses cannot keep "Stop" waiting.
constexpr std::int64_t kDrainBudget = 1 << 20;

QString receivedTitle(std::int64_t count) {
    return QStringLiteral("Kalvosan - Bytes received: %1").arg(count);
}

bool openCaptureFile(TerminalDialog &dialog, const QString &path) {
    QFile &file = dialog.m_captureFile;
    // Unbuffered: every read reaches the file at once, for the live pane and against a crash.
    // A FIFO is refused rather than left to block the window until a reader comes.
    if (!platform::openWithoutBlocking(
            file, path, QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        platform::messageBox(&dialog, QStringLiteral("Could not open file ") + path);
        return false;
    }
    const QByteArray header = captureHeader(dialog.m_captureFileName);
    if (!header.isEmpty() && file.write(header) != header.size()) {
        file.close();
        platform::messageBox(&dialog, QStringLiteral("Could not write file ") + path);
        return false;
    }
    return true;
}

// A write to the capture file failed: the capture ends as "Stop" would end it, keeping what
// was written, and the user learns why.
void captureWriteFailed(TerminalDialog &dialog, const QString &path) {
    if (dialog.m_running.load())
        dialog.OnStopCapture();
    platform::messageBox(&dialog, QStringLiteral("Could not write file ") + path);
}

// The receive loop of one capture: waits for input, drains the port into the file and shows
// the running count in the title.
class ReceiveLoop {
public:
    ReceiveLoop(TerminalDialog &dialog, std::uint64_t transfer)
        : m_dialog(dialog), m_transfer(transfer), m_buffer(kReceiveBufferSize) {}

    // Bytes waiting from before the start are dropped, neither written nor counted.
    void dropWaiting() { m_dialog.ReadAvailable(m_buffer.data(), kReceiveBufferSize); }

    // Waits up to one pace for input and writes all of it; false once a write failed.
    bool step() {
        const serial::Readiness ready = m_dialog.m_hPort->waitReadable(int(kPace.count()));
        if (ready == serial::Readiness::TimedOut) {
            showCount(false);
            return true;
        }
        const std::int64_t got = drain();
        // A hung-up device is "readable" at once every time: keep the pace instead of spinning.
        if (got == 0)
            std::this_thread::sleep_for(kPace);
        return got >= 0;
    }

    // Writes what is queued now, up to the budget: the byte count, or -1 when a write failed.
    std::int64_t drain() {
        std::int64_t drained = 0;
        while (drained < kDrainBudget) {
            const std::int64_t filled = gather();
            if (filled == 0)
                break;
            if (m_dialog.m_captureFile.write(m_buffer.data(), filled) != filled)
                return -1;
            m_count += filled;
            drained += filled;
            showCount(false);
            if (filled < kReceiveBufferSize)
                break;
        }
        return drained;
    }

    void showCount(bool last) {
        const Clock::time_point now = Clock::now();
        if (m_count == m_shown || (!last && now - m_shownAt < kPace))
            return;
        m_shown = m_count;
        m_shownAt = now;
        TerminalDialog *dialog = &m_dialog;
        const QString title = receivedTitle(m_count);
        m_dialog.postToUi(m_transfer, [dialog, title] { dialog->setWindowTitle(title); });
    }

private:
    // Several reads into one buffer, so that a fast device costs one file write per buffer.
    std::int64_t gather() {
        std::int64_t filled = 0;
        while (filled < kReceiveBufferSize) {
            const std::int64_t n =
                m_dialog.ReadAvailable(m_buffer.data() + filled, kReceiveBufferSize - filled);
            if (n <= 0)
                break;
            filled += n;
        }
        return filled;
    }

    TerminalDialog &m_dialog;
    const std::uint64_t m_transfer;
    std::vector<char> m_buffer;
    std::int64_t m_count = 0;
    std::int64_t m_shown = 0;
    Clock::time_point m_shownAt{};
};

} // namespace

void TerminalDialog::OnStartCapture() {
    CloseCellEdit();
    StopAndJoinWorker();
    // A field that fails validation has been reported: nothing is opened with values the
    // window no longer shows.
    if (!UpdateData(true) || m_baudRate.isEmpty())
        return;
    const QString path = capturePath(m_dropDirectory, m_captureFileName);
    m_transferPath = path;
    if (!openCaptureFile(*this, path) || !OpenSerialPort(PortProfile::Capture))
        return;
    SetControlState(ControlState::Capturing);
    m_running = true;
    setWindowTitle(QStringLiteral("Kalvosan v1.2"));
    if (m_editorOpen && m_pfnStop && m_pfnStart) {
        m_pfnStop();
        m_pfnStart(m_hexList, path);
    }
    if (!StartWorker(&TerminalDialog::ReceiveWorker)) {
        m_running = false;
        m_captureFile.close();
        SetControlState(ControlState::Idle);
    }
}

void TerminalDialog::OnStopCapture() {
    CloseCellEdit();
    // The worker ends within one pace plus its final read. Waiting for it here means the file
    // is complete before the pane's Finish reads its end and before the controls come back.
    StopAndJoinWorker();
    if (m_editorOpen && m_pfnFinish)
        m_pfnFinish();
    SetControlState(ControlState::Idle);
    AdvanceCaptureFileName();
}

void TerminalDialog::ReceiveWorker(std::uint64_t transfer) {
    // Without the right to real-time scheduling the capture runs at normal priority.
    platform::raiseToTimeCritical();
    const QString path = m_transferPath;
    m_hPort->setDtr(true);
    ReceiveLoop loop(*this, transfer);
    loop.dropWaiting();
    bool written = true;
    while (written && m_running.load())
        written = loop.step();
    // Bytes that came just before "Stop".
    if (written)
        written = loop.drain() >= 0;
    loop.showCount(true);
    m_captureFile.close();
    m_hPort->setDtr(false);
    if (!written)
        postToUi(transfer, [this, path] { captureWriteFailed(*this, path); });
}

std::int64_t TerminalDialog::ReadAvailable(char *buffer, std::int64_t capacity) {
    // The port is non-blocking: one read takes what is queued, up to the capacity. A failed
    // read (a hung-up device) counts as nothing read.
    const qint64 n = m_hPort ? m_hPort->read(buffer, capacity) : -1;
    return n > 0 ? n : 0;
}

void TerminalDialog::AdvanceCaptureFileName() {
    UpdateData(true);
    const QString next = advanceCaptureFileName(m_captureFileName);
    if (next == m_captureFileName)
        return;
    m_captureFileName = next;
    UpdateData(false);
}
