#include "app/terminal_dialog.h"

// Placeholder bodies until the send session lands.
void TerminalDialog::OnOpenSendFile() {}
void TerminalDialog::OnSend() {}
void TerminalDialog::OnAbort() {}
void TerminalDialog::SendWorker(std::uint64_t) {}
bool TerminalDialog::WriteFully(const char *, std::uint32_t) { return false; }
bool TerminalDialog::WriteOnce(const char *, std::uint32_t) { return false; }
void TerminalDialog::SendChunkDelayed(const char *, std::uint32_t) {}
void TerminalDialog::OnEditorSend() {}
void TerminalDialog::ReplyMonitor(std::uint64_t) {}
