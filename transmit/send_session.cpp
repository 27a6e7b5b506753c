// The handlers of the "Output" group: choosing the send file, starting a send, and Abort,
// which is also the end of every send.
#include "app/terminal_dialog.h"
#include "hexedit/hex_list_box.h"
#include "platform/files.h"
#include "platform/ui.h"
#include "serial/serial_port.h"
#include "transmit/send_logic.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>

void TerminalDialog::OnOpenSendFile() {
    CloseCellEdit();
    const auto chosen =
        platform::chooseOpenFile(this, QStringLiteral("Select file for transmission"));
    if (!chosen)
        return;
    m_sendFileName = *chosen;
    itemAs<QLineEdit>(1012)->setText(m_sendFileName);
    if (m_editorOpen && m_pfnStop && m_pfnStart && m_pfnFinish) {
        m_pfnStop();
        m_pfnStart(m_hexList, m_sendFileName);
        m_pfnFinish();
    }
}

void TerminalDialog::OnSend() {
    // The previous worker may still be in its last write or delay, holding the port, the file
    // and the flags; a new send begins only when it has ended.
    StopAndJoinWorker();
    m_writePending = false;
    CloseCellEdit();
    // A delay that is not an integer has been reported and has the focus: nothing is sent with
    // values the window no longer shows.
    if (!UpdateData(true) || m_baudRate.isEmpty())
        return;
    m_transferPath = m_sendFileName;
    // A FIFO without a writer would block the window in the open: it is refused.
    if (!platform::openWithoutBlocking(m_captureFile, m_sendFileName, QIODevice::ReadOnly)) {
        platform::messageBox(this, QStringLiteral("Could not open file ") + m_sendFileName);
        return;
    }
    if (!OpenSerialPort(PortProfile::Send)) {
        m_captureFile.close();
        return;
    }
    SetControlState(ControlState::Sending);
    m_running = true;
    setWindowTitle(QStringLiteral("Kalvosan v1.2"));
    m_progress->setRange(0, transmit::ProgressScale(m_captureFile.size()).maximum());
    m_progress->setValue(0);
    if (!StartWorker(&TerminalDialog::SendWorker)) {
        m_running = false;
        m_captureFile.close();
        SetControlState(ControlState::Idle);
    }
}

// The Abort button, and the end of every send (queued to this thread by the worker). The port
// stays open; the next opening closes it.
void TerminalDialog::OnAbort() {
    m_running = false;
    // The device sees the end at once, not only when the worker has left its current write.
    if (m_hPort)
        m_hPort->setDtr(false);
    CloseCellEdit();
    m_stopMonitor = true;
    itemAs<QPlainTextEdit>(1054)->clear();
    SetControlState(ControlState::Idle);
}
