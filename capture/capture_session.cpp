#include "app/terminal_dialog.h"
#include "capture/capture_naming.h"

// Placeholder bodies until the capture session lands.
void TerminalDialog::OnStartCapture() {}
void TerminalDialog::OnStopCapture() {}
void TerminalDialog::ReceiveWorker(std::uint64_t) {}
std::int64_t TerminalDialog::ReadAvailable(char *, std::int64_t) { return 0; }

void TerminalDialog::AdvanceCaptureFileName() {
    UpdateData(true);
    const QString next = advanceCaptureFileName(m_captureFileName);
    if (next == m_captureFileName)
        return;
    m_captureFileName = next;
    UpdateData(false);
}
