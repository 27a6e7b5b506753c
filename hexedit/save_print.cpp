#include "app/terminal_dialog.h"

// Placeholder bodies until save and print land.
void TerminalDialog::OnSave() {}
void TerminalDialog::OnPrint() {}
