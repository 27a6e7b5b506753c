// The search row of the editor pane: the search text (1019), "ASCII" (1025), "CASE" (1026) and
// "&Find" (1018). The search itself is hexedit/find_logic.
#include "app/terminal_dialog.h"

#include "hexedit/find_logic.h"
#include "hexedit/hex_list_box.h"
#include "platform/ui.h"

#include <QCheckBox>
#include <QLineEdit>

namespace {

constexpr int kFindEdit = 1019;
constexpr int kAsciiCheck = 1025;
constexpr int kCaseCheck = 1026;

} // namespace

// Any change of the search text restarts the search from the top. In hex mode the text keeps
// to hex digits and blanks: anything else puts the last accepted text back.
void TerminalDialog::OnFindTextChange() {
    m_findLine = -1;
    m_findPos = 0;
    if (itemAs<QCheckBox>(kAsciiCheck)->isChecked())
        return;
    // Only this field: a bad value elsewhere (the delay) must not interrupt typing here.
    m_findText = itemAs<QLineEdit>(kFindEdit)->text();
    if (acceptableHexFindText(m_findText)) {
        m_acceptedFindText = m_findText;
        return;
    }
    // Raises this handler once more, which accepts the restored text.
    itemAs<QLineEdit>(kFindEdit)->setText(m_acceptedFindText);
}

void TerminalDialog::OnAsciiCheck() {
    itemAs<QCheckBox>(kCaseCheck)->setEnabled(itemAs<QCheckBox>(kAsciiCheck)->isChecked());
    itemAs<QLineEdit>(kFindEdit)->clear();
    itemAs<QLineEdit>(kFindEdit)->setFocus(Qt::OtherFocusReason);
    m_findLine = -1;
    m_findPos = 0;
}

void TerminalDialog::OnFind() {
    CloseCellEdit();
    m_findText = itemAs<QLineEdit>(kFindEdit)->text();
    const bool ascii = itemAs<QCheckBox>(kAsciiCheck)->isChecked();
    // "CASE" counts only in ASCII mode; its tick is kept while it is disabled.
    const bool caseSensitive = ascii && itemAs<QCheckBox>(kCaseCheck)->isChecked();
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
    platform::messageBox(this, QStringLiteral("Nothing was found.."),
                         QStringLiteral("Search completed"), platform::MessageIcon::Information);
}
