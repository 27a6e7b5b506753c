// A real TerminalDialog after its start-up (libkalvosan.so loaded from the test's directory),
// shown and active, with the editor pane open; helpers for lines and the cell editor.
#pragma once

#include "app/terminal_dialog.h"
#include "hexedit/hex_cell_edit.h"
#include "hexedit/hex_list_box.h"
#include "res/control_ids.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <memory>
#include <ostream>

inline void PrintTo(const QString &s, std::ostream *os) {
    *os << '"' << s.toStdString() << '"';
}

namespace hexedittest {

// Full lines labelled from `first`, byte values counting up from first * 16.
QStringList fullLines(int count, int first = 0);
// A line of `bytes` (1..16) bytes labelled with index.
QString shortLine(int index, int bytes);

class EditorPaneTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    HexListBox &list() const { return *m_dialog->hexList(); }
    HexCellEdit *editor() const { return m_dialog->cellEdit(); }
    void setLines(const QStringList &lines);
    // Opens the editor as a search hit would.
    HexCellEdit &openAt(int line, int cell);
    void type(const QString &keys);
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // Lets deferred deletions and posted events run.
    void settle(int ms = 20);
    QPoint columnPoint(int column) const;

    std::unique_ptr<TerminalDialog> m_dialog;
};

// A double click as a real mouse delivers it: press, release, double-click, release.
void doubleClick(QWidget *widget, QPoint pos);

// The editor's caret: exactly one selected character at this column.
::testing::AssertionResult caretAt(const HexCellEdit *edit, int column);

} // namespace hexedittest
