#include "app/terminal_dialog.h"
#include "hexedit/hex_cell_edit.h"
#include "hexedit/hex_list_box.h"

namespace {

// BeginCellEdit and ShowFoundAt: the editor over `line` with the caret on `cell`. The caller
// has closed any editor before.
HexCellEdit *openCellEditor(HexListBox &list, const QFont &font, int line, int cell) {
    if (line < 0 || line >= list.count())
        return nullptr;
    list.setCurrentLine(line);
    HexCellEdit *edit = HexCellEdit::CreateOnLine(&list, list.visualItemRect(list.item(line)));
    if (edit == nullptr)
        return nullptr;
    edit->setFont(font);
    edit->openAt(line, cell);
    return edit;
}

} // namespace

// "&Editor": switches between the window with and without the editor pane.
void TerminalDialog::OnEditor() {
    CloseCellEdit();
    m_editorOpen = !m_editorOpen;
    setWindowHeight(m_editorOpen ? m_fullHeight : m_collapsedHeight);
}

// "&New": one blank line, with the editor open on its first digit.
void TerminalDialog::OnNew() {
    // After Stop returns, no line of the load that was running reaches the list any more.
    if (m_pfnStop)
        m_pfnStop();
    CloseCellEdit();
    m_hexList->clear();
    if (!m_hexList->appendBlankLine())
        return;
    m_hexList->setCurrentLine(0);
    BeginCellEdit();
}

void TerminalDialog::BeginCellEdit() {
    CloseCellEdit();
    m_cellEdit = openCellEditor(*m_hexList, m_font, m_hexList->currentRow(), 0);
}

void TerminalDialog::ShowFoundAt(int line, int cell) {
    CloseCellEdit();
    m_cellEdit = openCellEditor(*m_hexList, m_font, line, cell);
}

// Never loses a change: the text is written back before the editor goes, and the focus it
// had passes to the list first.
void TerminalDialog::CloseCellEdit() {
    HexCellEdit *edit = m_cellEdit;
    if (edit == nullptr)
        return;
    m_cellEdit = nullptr;
    edit->finish();
    if (edit->hasFocus())
        m_hexList->setFocus(Qt::OtherFocusReason);
    edit->hide();
    // This may run inside one of the editor's own event handlers.
    edit->deleteLater();
}
