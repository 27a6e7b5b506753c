// The cell editor driven by keys and clicks on a real TerminalDialog.
#include "loader/hexline.h"
#include "tests/test_hexedit_fixture.h"

#include <QApplication>
#include <QClipboard>
#include <QTest>

using namespace hexedittest;

namespace {

class CellEditor : public EditorPaneTest {
protected:
    // "&New": one blank line, editor on its first digit.
    HexCellEdit &fresh() {
        m_dialog->OnNew();
        EXPECT_NE(editor(), nullptr);
        return *editor();
    }
};

TEST_F(CellEditor, HexDigitsFillTheByteAndItsAsciiCharacter) {
    HexCellEdit &edit = fresh();
    type("4");
    EXPECT_EQ(edit.text().at(7), u'4');
    EXPECT_EQ(edit.text().at(59), u'0'); // "4" and a blank make 0x30
    EXPECT_TRUE(caretAt(&edit, 8));
    type("1");
    EXPECT_EQ(edit.text().mid(7, 2), "41");
    EXPECT_EQ(edit.text().at(59), u'A');
    EXPECT_TRUE(caretAt(&edit, 10));
    // The list changes only when the editor commits.
    EXPECT_EQ(list().lineText(0), hexline::blankLine(0));

    const QString before = edit.text();
    type("Zg");
    EXPECT_EQ(edit.text(), before);
    EXPECT_TRUE(caretAt(&edit, 10));
    type("a");
    EXPECT_EQ(edit.text().at(10), u'A');
    EXPECT_TRUE(caretAt(&edit, 11));
    EXPECT_EQ(edit.text().size(), hexline::kFullLength);
    EXPECT_EQ(edit.text().left(7), "00000  ");
}

TEST_F(CellEditor, AsciiSideTakesEveryCharacter) {
    HexCellEdit &edit = fresh();
    for (int i = 0; i < 3; ++i)
        key(Qt::Key_Right);
    key(Qt::Key_Tab);
    EXPECT_TRUE(caretAt(&edit, 59));
    for (int i = 0; i < 3; ++i)
        key(Qt::Key_Right);
    ASSERT_EQ(edit.cell(), 35);
    type("z");
    EXPECT_EQ(edit.text().mid(16, 2), "7A");
    EXPECT_EQ(edit.text().at(62), u'z');
    EXPECT_TRUE(caretAt(&edit, 63));
    key(Qt::Key_Backspace);
    EXPECT_EQ(edit.text().mid(20, 2), "08");
    EXPECT_EQ(edit.text().at(63), u'.');
    EXPECT_TRUE(caretAt(&edit, 64));
}

TEST_F(CellEditor, TabSwitchesSidesAndKeepsTheFocus) {
    setLines(fullLines(3));
    HexCellEdit &edit = openAt(1, 13);
    key(Qt::Key_Tab);
    EXPECT_TRUE(caretAt(&edit, 59));
    EXPECT_TRUE(edit.hasFocus());
    key(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_TRUE(caretAt(&edit, 7));
    EXPECT_TRUE(edit.hasFocus());
    for (Qt::Key k : {Qt::Key_Home, Qt::Key_End}) {
        key(k);
        EXPECT_TRUE(caretAt(&edit, 7));
    }
}

TEST_F(CellEditor, WalkingAcrossLines) {
    setLines(fullLines(2));
    HexCellEdit &edit = openAt(0, 0);
    key(Qt::Key_Left); // first line: nothing
    key(Qt::Key_Up);
    EXPECT_EQ(edit.line(), 0);
    EXPECT_TRUE(caretAt(&edit, 7));
    key(Qt::Key_Down);
    EXPECT_EQ(edit.line(), 1);
    key(Qt::Key_Tab);
    key(Qt::Key_Left); // from cell 32 to cell 47 of the line above
    EXPECT_EQ(edit.line(), 0);
    EXPECT_TRUE(caretAt(&edit, 74));
    key(Qt::Key_Right, Qt::ControlModifier); // modifiers make no difference
    EXPECT_EQ(edit.line(), 1);
    EXPECT_TRUE(caretAt(&edit, 59));
}

TEST_F(CellEditor, RightFromAFullLastLineAppendsABlankLine) {
    setLines(fullLines(2));
    HexCellEdit &edit = openAt(1, 31);
    ASSERT_EQ(list().lineText(1).left(5), "00010");
    key(Qt::Key_Right);
    ASSERT_EQ(list().count(), 3);
    EXPECT_EQ(list().lineText(2), hexline::blankLine(2));
    EXPECT_EQ(list().lineText(2).left(5), "00020");
    EXPECT_EQ(edit.line(), 2);
    EXPECT_TRUE(caretAt(&edit, 7));

    // On a last line with a blank cell, Down and Right from the last cell do nothing; a
    // character typed into the last cell is taken and the caret stays.
    key(Qt::Key_Down);
    EXPECT_EQ(list().count(), 3);
    EXPECT_EQ(edit.line(), 2);
    EXPECT_TRUE(caretAt(&edit, 7));
    m_dialog->ShowFoundAt(2, 31);
    type("7");
    EXPECT_EQ(list().count(), 3);
    EXPECT_EQ(editor()->text().at(56), u'7');
    EXPECT_TRUE(caretAt(editor(), 56));
}

TEST_F(CellEditor, TypingOnThroughLinesCommitsEachLine) {
    m_dialog->OnNew();
    type(QString(32, u'C') + "DD");
    ASSERT_EQ(list().count(), 2);
    const std::uint8_t cc[16] = {0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC,
                                 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC};
    EXPECT_EQ(list().lineText(0), hexline::formatLine(0, cc, 16));
    EXPECT_EQ(editor()->line(), 1);
    EXPECT_EQ(editor()->text().mid(7, 2), "DD");
    EXPECT_EQ(editor()->text().left(5), "00010");
    EXPECT_TRUE(caretAt(editor(), 10));
}

TEST_F(CellEditor, SixthByteOfAFiveByteLine) {
    setLines({shortLine(0, 5)});
    ASSERT_EQ(list().lineText(0).size(), 64);
    HexCellEdit &edit = openAt(0, 10);
    type("42");
    EXPECT_EQ(edit.text().mid(23, 2), "42");
    EXPECT_EQ(edit.text().size(), 65);
    EXPECT_EQ(edit.text().at(64), u'B');
    EXPECT_TRUE(caretAt(&edit, 26));
    // The caret on a cell past the end of the text is an empty selection at the end.
    m_dialog->ShowFoundAt(0, 40);
    EXPECT_EQ(editor()->selectedText(), QString());
    EXPECT_EQ(editor()->cursorPosition(), 65);
}

TEST_F(CellEditor, ClicksPutTheCaretOnCellsOnly) {
    setLines(fullLines(2));
    HexCellEdit &edit = openAt(0, 5);
    for (int column : {2, 5, 9, 18, 57}) { // label and separators
        QTest::mouseClick(&edit, Qt::LeftButton, {}, columnPoint(column));
        EXPECT_TRUE(caretAt(&edit, 14)) << "click on column " << column;
    }
    QTest::mouseClick(&edit, Qt::LeftButton, {}, columnPoint(21));
    EXPECT_EQ(edit.cell(), 9);
    EXPECT_TRUE(caretAt(&edit, 21));
    QTest::mouseClick(&edit, Qt::LeftButton, {}, columnPoint(70));
    EXPECT_EQ(edit.cell(), 43);
    type("k"); // the ASCII side follows the click
    EXPECT_EQ(edit.text().mid(42, 2), "6B");
    EXPECT_TRUE(caretAt(&edit, 71));
    // Right clicks do nothing; a double click is a click, without the line edit's word
    // selection.
    QTest::mouseClick(&edit, Qt::RightButton, {}, columnPoint(7));
    EXPECT_TRUE(caretAt(&edit, 71));
    doubleClick(&edit, columnPoint(7));
    EXPECT_EQ(edit.cell(), 0);
    EXPECT_TRUE(caretAt(&edit, 7));
}

TEST_F(CellEditor, TheLineEditsOwnEditingNeverApplies) {
    setLines(fullLines(2));
    HexCellEdit &edit = openAt(0, 0);
    type("E");
    const QString typed = edit.text();
    QApplication::clipboard()->setText(QStringLiteral("0123456789"));
    for (auto [k, mods] : {std::pair{Qt::Key_Z, Qt::ControlModifier},
                           {Qt::Key_V, Qt::ControlModifier},
                           {Qt::Key_X, Qt::ControlModifier},
                           {Qt::Key_Insert, Qt::ShiftModifier},
                           {Qt::Key_Delete, Qt::NoModifier},
                           {Qt::Key_Backspace, Qt::NoModifier}}) {
        key(k, mods);
        EXPECT_EQ(edit.text(), typed) << "key " << k;
        EXPECT_TRUE(caretAt(&edit, 8)) << "key " << k;
    }
    QTest::mouseClick(&edit, Qt::MiddleButton, {}, columnPoint(10));
    EXPECT_EQ(edit.text(), typed);
    EXPECT_FALSE(edit.acceptDrops());
}

} // namespace
