#include "app/terminal_dialog.h"

// Placeholder bodies until the search lands.
void TerminalDialog::OnFindTextChange() {}
void TerminalDialog::OnAsciiCheck() {}
void TerminalDialog::OnFind() {}
