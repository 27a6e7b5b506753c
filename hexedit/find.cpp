// The search row of the editor pane: the search text, "ASCII", "CASE" and "&Find". The search
// itself is hexedit/find_logic.
#include "hexedit/editor_pane.h"
#include "hexedit/find_logic.h"
#include "hexedit/hex_list_box.h"
#include "platform/ui.h"
#include "res/control_ids.h"

#include <QCheckBox>
#include <QLineEdit>

// Any change of the search text restarts the search from the top. In hex mode the text keeps
// to hex digits and blanks: anything else puts the last accepted text back.
void EditorPane::OnFindTextChange() {
    m_findLine = -1;
    m_findPos = 0;
    if (qobject_cast<QCheckBox *>(control(ctl::Ascii))->isChecked())
        return;
    // Only this field: a bad value elsewhere (the delay) must not interrupt typing here.
    m_findText = qobject_cast<QLineEdit *>(control(ctl::FindText))->text();
    if (acceptableHexFindText(m_findText)) {
        m_acceptedFindText = m_findText;
        return;
    }
    // Raises this handler once more, which accepts the restored text.
    qobject_cast<QLineEdit *>(control(ctl::FindText))->setText(m_acceptedFindText);
}

void EditorPane::OnAsciiCheck() {
    qobject_cast<QCheckBox *>(control(ctl::Case))
        ->setEnabled(qobject_cast<QCheckBox *>(control(ctl::Ascii))->isChecked());
    qobject_cast<QLineEdit *>(control(ctl::FindText))->clear();
    qobject_cast<QLineEdit *>(control(ctl::FindText))->setFocus(Qt::OtherFocusReason);
    m_findLine = -1;
    m_findPos = 0;
}

void EditorPane::OnFind() {
    CloseCellEdit();
    m_findText = qobject_cast<QLineEdit *>(control(ctl::FindText))->text();
    const bool ascii = qobject_cast<QCheckBox *>(control(ctl::Ascii))->isChecked();
    // "CASE" counts only in ASCII mode; its tick is kept while it is disabled.
    const bool caseSensitive = ascii && qobject_cast<QCheckBox *>(control(ctl::Case))->isChecked();
    const QString prepared = prepareFindText(m_findText, ascii, caseSensitive);
    if (prepared.isEmpty())
        return;
    FindState state{m_findLine, m_findPos};
    const FindResult hit = [&] {
        const platform::WaitCursor wait;
        return findNext(m_hexList->lineTexts(), prepared, ascii, caseSensitive, state);
    }();
    m_findLine = state.findLine;
    m_findPos = static_cast<std::uint8_t>(state.findPos);
    if (hit.found) {
        ShowFoundAt(hit.line, hit.cell);
        return;
    }
    platform::messageBox(window(), QStringLiteral("Nothing was found.."),
                         QStringLiteral("Search completed"), platform::MessageIcon::Information);
}
