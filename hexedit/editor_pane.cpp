#include "app/terminal_dialog.h"

// "&Editor": switches between the window with and without the editor pane.
void TerminalDialog::OnEditor() {
    CloseCellEdit();
    m_editorOpen = !m_editorOpen;
    setWindowHeight(m_editorOpen ? m_fullHeight : m_collapsedHeight);
}

// Placeholder bodies until the editor pane lands.
void TerminalDialog::OnNew() {}
void TerminalDialog::BeginCellEdit() {}
void TerminalDialog::CloseCellEdit() {}
void TerminalDialog::ShowFoundAt(int, int) {}
void TerminalDialog::OnFindTextChange() {}
void TerminalDialog::OnAsciiCheck() {}
void TerminalDialog::OnFind() {}
void TerminalDialog::OnSave() {}
void TerminalDialog::OnPrint() {}
