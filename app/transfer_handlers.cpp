// The window's transfers: "Start" and "Stop" of the "Input" group, "Open", "Send" and "Abort"
// of the "Output" group, the editor's "S&end", and what the sessions report back.
#include "app/terminal_dialog.h"

#include "capture/capture_naming.h"
#include "hexedit/editor_pane.h"
#include "hexedit/hex_list_box.h"
#include "hexedit/line_bytes.h"
#include "loader/hexline.h"
#include "platform/files.h"
#include "platform/ui.h"
#include "res/control_ids.h"
#include "res/dialog_templates.h"
#include "serial/network_address.h"
#include "serial/port.h"
#include "transmit/send_logic.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTextCursor>

#include <optional>

QString receivedTitle(qint64 count) {
    return QStringLiteral("Kalvosan - Bytes received: %1").arg(count);
}

namespace {

// The title while a capture runs, and after it: the count once there is one.
QString countTitle(qint64 count) {
    return count > 0 ? receivedTitle(count) : QString(QLatin1String(res::kVersionTitle));
}

const QString kWaitingTitle = QStringLiteral("Kalvosan - Waiting for ");

// Adds text at the end of the reply display without touching what it already shows.
void appendReply(QPlainTextEdit *display, const QString &text) {
    QTextCursor cursor(display->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
}

} // namespace

void TerminalDialog::connectSessions() {
    connectProtocolTransfer();
    connect(&m_capture, &CaptureSession::progress, this,
            [this](qint64 count) { setWindowTitle(receivedTitle(count)); });
    connect(&m_capture, &CaptureSession::writeFailed, this, &TerminalDialog::onCaptureWriteFailed);
    connect(&m_capture, &CaptureSession::waiting, this, [this](const QString &port) {
        setWindowTitle(kWaitingTitle + port + QStringLiteral("..."));
    });
    connect(&m_capture, &CaptureSession::reconnected, this,
            [this](qint64 count) { setWindowTitle(countTitle(count)); });
    connect(&m_send, &SendSession::progress, this, [this](qint64 sent, qint64 length) {
        setWindowTitle(transmit::sendTitle(sent, length));
        itemAs<QProgressBar>(ctl::Progress)
            ->setValue(transmit::ProgressScale(length).position(sent));
    });
    connect(&m_send, &SendSession::monitoringStarted, this, [this] {
        m_replyText.clear();
        m_monitoring = true;
    });
    connect(&m_send, &SendSession::replyReceived, this, &TerminalDialog::onReply);
    connect(&m_send, &SendSession::finished, this, &TerminalDialog::onSendFinished);
}

// --- capture ------------------------------------------------------------------------------

void TerminalDialog::OnStartCapture() {
    CloseCellEdit();
    StopAndJoinWorker();
    // A field that fails validation has been reported: nothing is opened with values the
    // window no longer shows.
    if (!UpdateData(true) || m_baudRate.isEmpty())
        return;
    if (m_protocol) {
        beginProtocolTransfer(protocols::Direction::Receive);
        return;
    }
    // The port first: a capture that cannot start leaves the file at its name as it was.
    if (serial::isNetworkName(m_portName)) {
        beginNetworkOpen(serial::PortProfile::Capture);
        return;
    }
    if (std::unique_ptr<serial::Port> port = OpenSerialPort(serial::PortProfile::Capture))
        startCapture(std::move(port));
}

void TerminalDialog::startCapture(std::unique_ptr<serial::Port> port) {
    // A numbered name another program has written meanwhile is not emptied.
    if (const QString unused = unusedCaptureFileName(m_dropDirectory, m_captureFileName);
        unused != m_captureFileName) {
        m_captureFileName = unused;
        itemAs<QLineEdit>(ctl::CaptureFile)->setText(unused);
    }
    const QString path = capturePath(m_dropDirectory, m_captureFileName);
    const QByteArray header = captureHeader(m_captureFileName);
    if (const QString error = m_capture.openFile(path, header, m_recordTimes); !error.isEmpty()) {
        // Nothing started: the port is released at once.
        port.reset();
        platform::messageBox(this, error);
        return;
    }
    SetControlState(ControlState::Capturing);
    setWindowTitle(QLatin1String(res::kVersionTitle));
    if (m_editorOpen)
        m_pane->followFile(path);
    CaptureOptions options{portConfig(serial::PortProfile::Capture), path, header};
    options.arrivalTimes = m_recordTimes;
    if (!m_capture.start(std::move(port), options)) {
        reclaimPort();
        SetControlState(ControlState::Idle);
    }
}

void TerminalDialog::OnStopCapture() {
    CloseCellEdit();
    if (m_opener.pending()) {
        cancelNetworkOpen();
        return;
    }
    // A protocol transfer ends by cancelling the other side; its end comes as a message.
    if (m_transfer.busy()) {
        m_transfer.abort();
        return;
    }
    // The worker ends within one pace plus its final read. Waiting for it here means the file
    // is complete before the pane's Finish reads its end and before the controls come back.
    m_capture.stop();
    // A device that is away waits no more.
    if (windowTitle().startsWith(kWaitingTitle))
        setWindowTitle(countTitle(m_capture.count()));
    reclaimPort();
    if (m_editorOpen)
        m_pane->finishLoad();
    SetControlState(ControlState::Idle);
    AdvanceCaptureFileName();
}

// A write to the capture file failed: the capture ends as "Stop" would end it, keeping what
// was written, and the user learns why.
void TerminalDialog::onCaptureWriteFailed(const QString &path) {
    if (item(ctl::Stop)->isEnabled())
        OnStopCapture();
    // The title may still say the capture waits for its device.
    setWindowTitle(receivedTitle(m_capture.count()));
    platform::messageBox(this, QStringLiteral("Could not write file ") + path);
}

void TerminalDialog::AdvanceCaptureFileName() {
    UpdateData(true);
    const QString next = advanceCaptureFileName(m_captureFileName);
    if (next == m_captureFileName)
        return;
    m_captureFileName = next;
    UpdateData(false);
}

// --- send ---------------------------------------------------------------------------------

void TerminalDialog::OnOpenSendFile() {
    CloseCellEdit();
    const auto chosen =
        platform::chooseOpenFile(this, QStringLiteral("Select file for transmission"));
    if (!chosen)
        return;
    m_sendFileName = *chosen;
    itemAs<QLineEdit>(ctl::SendFile)->setText(m_sendFileName);
    if (m_editorOpen)
        m_pane->loadFile(m_sendFileName);
}

void TerminalDialog::OnSend() {
    // The previous worker may still be in its last write or delay, holding the port and the
    // file; a new send begins only when it has ended.
    StopAndJoinWorker();
    CloseCellEdit();
    // A delay that is not an integer has been reported and has the focus: nothing is sent with
    // values the window no longer shows.
    if (!UpdateData(true) || m_baudRate.isEmpty())
        return;
    if (m_protocol) {
        beginProtocolTransfer(protocols::Direction::Send);
        return;
    }
    if (const QString error = m_send.openFile(m_sendFileName); !error.isEmpty()) {
        platform::messageBox(this, error);
        return;
    }
    if (serial::isNetworkName(m_portName)) {
        if (!beginNetworkOpen(serial::PortProfile::Send))
            m_send.closeFile();
        return;
    }
    std::unique_ptr<serial::Port> port = OpenSerialPort(serial::PortProfile::Send);
    if (!port) {
        m_send.closeFile();
        return;
    }
    startSend(std::move(port));
}

void TerminalDialog::startSend(std::unique_ptr<serial::Port> port) {
    SetControlState(ControlState::Sending);
    setWindowTitle(QLatin1String(res::kVersionTitle));
    auto *progress = itemAs<QProgressBar>(ctl::Progress);
    progress->setRange(0, transmit::ProgressScale(m_send.fileSize()).maximum());
    progress->setValue(0);
    transmit::SendOptions options;
    options.port = portConfig(serial::PortProfile::Send);
    options.writeMultiplier = m_writeMultiplier;
    options.delayMs = m_sendDelay;
    options.mode2 = m_mode2;
    options.replyMonitor = m_replyMonitor;
    if (!m_send.start(std::move(port), options)) {
        reclaimPort();
        SetControlState(ControlState::Idle);
    }
}

// The Abort button, and the end of every send. The port stays open; the next opening closes
// it.
void TerminalDialog::OnAbort() {
    if (m_opener.pending()) {
        cancelNetworkOpen();
        return;
    }
    // A protocol holds the port until it has cancelled the other side and its helper has
    // ended: its end makes the window idle.
    if (m_transfer.busy()) {
        m_transfer.abort();
        return;
    }
    m_send.abort();
    m_replyMonitor = false;
    m_monitoring = false;
    CloseCellEdit();
    itemAs<QPlainTextEdit>(ctl::InputBuffer)->clear();
    SetControlState(ControlState::Idle);
}

void TerminalDialog::onSendFinished(const transmit::SendResult &result) {
    // The worker posted this last of all; it is gone in a moment.
    reclaimPort();
    OnAbort();
    if (result.timing.bytes > 0)
        m_lastTiming = result.timing;
    // The port combo box is disabled while a send runs: the name is the one on screen.
    if (result.end == transmit::SendEnd::ReadFailed)
        platform::messageBox(this, QStringLiteral("Could not read file ") + result.path);
    else if (result.end == transmit::SendEnd::WriteFailed)
        platform::messageBox(this, QStringLiteral("Could not write port ") + result.portName);
}

void TerminalDialog::onReply(const QByteArray &bytes) {
    const QString text = m_replyText.append(
        reinterpret_cast<const std::uint8_t *>(bytes.constData()), int(bytes.size()));
    appendReply(itemAs<QPlainTextEdit>(ctl::InputBuffer), text);
}

// "S&end" of the editor pane: the editor's bytes go out through the ordinary send, and the
// session then stays open showing the device's reply until "Abort".
void TerminalDialog::OnEditorSend() {
    if (hexList()->count() == 0)
        return;
    // A monitor still ending would clear the flag of this send.
    StopAndJoinWorker();
    // Checked before temp.bin is written and named in the send file edit.
    if (!UpdateData(true))
        return;
    m_replyMonitor = true;
    const std::optional<QByteArray> bytes = [&] {
        const platform::WaitCursor wait;
        return collectRange(hexList()->lineTexts(), 0, hexline::kRangeLimit);
    }();
    if (!bytes) {
        m_replyMonitor = false;
        platform::messageBox(this, QStringLiteral("Insufficient Memory.."));
        return;
    }
    const platform::WaitCursor waitCursor;
    const QString path = transmit::tempFilePath(m_startDir);
    if (QString failure;
        platform::writeFreshFile(path, bytes->constData(), bytes->size(), &failure)) {
        itemAs<QLineEdit>(ctl::SendFile)->setText(path);
        OnSend();
    } else {
        platform::messageBox(this, failure);
    }
    // No worker started: the next send, a plain file send too, must not end in monitoring.
    if (!transferRunning())
        m_replyMonitor = false;
}

// "...": the folder chooser with the current drop directory preselected.
void TerminalDialog::OnBrowseDropDirectory() {
    UpdateData(true);
    auto *edit = itemAs<QLineEdit>(ctl::DropDirectory);
    QString current = edit->text();
    if (const auto chosen =
            platform::chooseDirectory(this, QStringLiteral("Select drop directory"), current))
        current = *chosen;
    if (!current.isEmpty())
        edit->setText(current);
}
