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
#include "platform/files.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>

#include <chrono>
#include <optional>

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
    // Checked before temp.bin is written and named in the send file edit.
    if (!UpdateData(true))
        return;
    m_replyMonitor = true;
    const std::optional<QByteArray> bytes = [&] {
        const platform::WaitCursor wait;
        return collectRange(m_hexList->lineTexts(), 0, hexline::kRangeLimit);
    }();
    if (!bytes) {
        m_replyMonitor = false;
        platform::messageBox(this, QStringLiteral("Insufficient Memory.."));
        return;
    }
    const platform::WaitCursor waitCursor;
    const QString path = transmit::tempFilePath(m_startDir);
    if (platform::writeFreshFile(path, bytes->constData(), bytes->size())) {
        itemAs<QLineEdit>(1012)->setText(path);
        OnSend();
    }
    // No worker started: the next send, a plain file send too, must not end in monitoring.
    if (!transferRunning())
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
