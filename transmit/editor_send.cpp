// "S&end" of the editor pane: the editor's bytes go out through the ordinary send, and the
// session then stays open showing the device's reply until "Abort".
#include "app/terminal_dialog.h"
#include "hexedit/hex_list_box.h"
#include "hexedit/line_bytes.h"
#include "loader/hexline.h"
#include "platform/ui.h"
#include "serial/serial_port.h"
#include "transmit/reply_text.h"
#include "transmit/send_logic.h"
#include "transmit/temp_file.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>

#include <chrono>
#include <memory>
#include <new>

namespace {

constexpr auto kMonitorPeriod = std::chrono::milliseconds(20);
constexpr int kMonitorChunk = 4096;

// Adds text at the end of the reply display without touching what it already shows.
void appendReply(QPlainTextEdit *display, const QString &text) {
    QTextCursor cursor(display->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
}

} // namespace

void TerminalDialog::OnEditorSend() {
    if (m_hexList->count() == 0)
        return;
    // A monitor still ending would clear the flag of this send.
    StopAndJoinWorker();
    m_replyMonitor = true;
    const std::uint64_t transfersBefore = m_transfer;
    const QStringList lines = m_hexList->lineTexts();
    const int capacity = collectCapacity(int(lines.size()), 0, hexline::kRangeLimit);
    std::unique_ptr<std::uint8_t[]> buffer(
        capacity > 0 ? new (std::nothrow) std::uint8_t[capacity]() : nullptr);
    if (!buffer) {
        m_replyMonitor = false;
        platform::messageBox(this, QStringLiteral("Insufficient Memory.."));
        return;
    }
    const platform::WaitCursor waitCursor;
    const int count = CollectBytes(lines, 0, hexline::kRangeLimit, buffer.get());
    const QString path = transmit::tempFilePath(m_startDir);
    const bool written =
        transmit::writeFreshFile(path, reinterpret_cast<const char *>(buffer.get()), count);
    buffer.reset();
    if (written) {
        itemAs<QLineEdit>(1012)->setText(path);
        OnSend();
    }
    // No worker started: the next send, a plain file send too, must not end in monitoring.
    if (m_transfer == transfersBefore)
        m_replyMonitor = false;
}

// Runs on the send worker's thread once the editor's bytes are out: every 20 ms it takes what
// the port has queued and appends its display text, until Abort.
void TerminalDialog::ReplyMonitor(std::uint64_t transfer) {
    ReplyText reply;
    char buffer[kMonitorChunk];
    while (m_running && !m_stopMonitor) {
        std::this_thread::sleep_for(kMonitorPeriod);
        const std::int64_t n = ReadAvailable(buffer, sizeof buffer);
        if (n <= 0)
            continue;
        QString text = reply.append(reinterpret_cast<const std::uint8_t *>(buffer), int(n));
        postToUi(transfer, [this, text = std::move(text)] {
            appendReply(itemAs<QPlainTextEdit>(1054), text);
        });
    }
    m_hPort->setDtr(false);
    m_replyMonitor = false;
    postToUi(transfer, [this] { OnAbort(); });
}
