#include "app/terminal_dialog.h"

// Placeholder bodies until the port handling lands.
bool TerminalDialog::OpenSerialPort(PortProfile) {
    return false;
}
void TerminalDialog::OnRtsOff() {}
void TerminalDialog::OnRtsOn() {}
void TerminalDialog::OnScan() {}
