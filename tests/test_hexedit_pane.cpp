// The editor pane on a real TerminalDialog: "&New", the list's reactions (scrolling, a change
// of the current line, double-click), committing, the overflow indicator and CollectBytes.
#include "hexedit/editor_pane.h"
#include "loader/hexline.h"
#include "res/control_ids.h"
#include "tests/test_hexedit_fixture.h"
#include "tests/test_support.h"

#include <QAbstractButton>
#include <QLabel>
#include <QScrollBar>
#include <QSpontaneKeyEvent>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <thread>

using namespace hexedittest;

namespace {

const QString kBlank0 = hexline::blankLine(0);

QPoint lineCentre(HexListBox &list, int line) {
    return list.visualItemRect(list.item(line)).center();
}

TEST_F(EditorPaneTest, NewReplacesAnyListWithOneBlankLineAndOpensTheEditor) {
    setLines(fullLines(2000));
    list().setCurrentLine(1500);
    m_dialog->BeginCellEdit();
    ASSERT_NE(editor(), nullptr);

    QTest::mouseClick(m_dialog->itemAs<QAbstractButton>(ctl::New), Qt::LeftButton);
    settle();
    ASSERT_EQ(list().count(), 1);
    EXPECT_EQ(list().lineText(0), QStringLiteral("00000") + QString(70, u' '));
    EXPECT_EQ(list().currentRow(), 0);
    ASSERT_NE(editor(), nullptr);
    EXPECT_EQ(editor()->text(), kBlank0);
    EXPECT_TRUE(caretAt(editor(), 7));
    EXPECT_TRUE(editor()->hasFocus());
    // Exactly one editor: the one over line 1500 is gone.
    settle();
    EXPECT_EQ(list().viewport()->findChildren<HexCellEdit *>().size(), 1);
}

TEST_F(EditorPaneTest, NoLineOfARunningLoadArrivesAfterNew) {
    QTemporaryDir dir;
    const QString path = dir.filePath("big.bin");
    testsupport::writeFile(path, QByteArray(hexline::kLoaderByteLimit + 4096, '\x5A'));

    // Once with blocks queued but not yet delivered, once with lines already in the list.
    for (bool letLinesArrive : {false, true}) {
        m_dialog->editorPane()->followFile(path);
        if (letLinesArrive)
            ASSERT_TRUE(testsupport::waitUntil([&] { return list().count() > 0; }));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        const int before = list().count();
        m_dialog->OnNew();
        settle(600);
        EXPECT_LT(before, hexline::kLoaderLineLimit) << "the load had already finished";
        ASSERT_EQ(list().count(), 1) << "lines arrived after New";
        EXPECT_EQ(list().lineText(0), kBlank0);
        EXPECT_NE(editor(), nullptr);
    }
}

TEST_F(EditorPaneTest, ScrollingClosesTheEditorAndKeepsTheEditedText) {
    setLines(fullLines(300));
    openAt(2, 0);
    type("9");
    const QString edited = editor()->text();
    ASSERT_EQ(edited.mid(7, 2), "90");
    list().verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(editor(), nullptr);
    EXPECT_EQ(list().lineText(2), edited);
    EXPECT_GT(list().verticalScrollBar()->value(), 0) << "the scrolling itself still happens";

    // The mouse wheel over the editor scrolls the list as well.
    list().scrollToTop();
    openAt(1, 4);
    // Spontaneous, as the window system delivers it, so that it travels from the editor up
    // to the list.
    QWheelEvent wheel(QPointF(5, 5), editor()->mapToGlobal(QPointF(5, 5)), QPoint(),
                      QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QSpontaneKeyEvent::setSpontaneous(&wheel);
    QCoreApplication::instance()->notify(editor(), &wheel);
    EXPECT_EQ(editor(), nullptr);
    settle();
    EXPECT_TRUE(list().viewport()->findChildren<HexCellEdit *>().isEmpty());
}

TEST_F(EditorPaneTest, ProgramMovesOfTheCurrentLineKeepTheEditorOpen) {
    setLines(fullLines(300));
    openAt(0, 0);
    // Walking down past the visible lines scrolls the list to the editor's line.
    for (int i = 0; i < 60; ++i)
        key(Qt::Key_Down);
    ASSERT_NE(editor(), nullptr);
    EXPECT_EQ(editor()->line(), 60);
    EXPECT_EQ(list().currentRow(), 60);
    EXPECT_TRUE(caretAt(editor(), 7));
    EXPECT_EQ(editor()->geometry().topLeft(),
              list().visualItemRect(list().item(60)).topLeft() + QPoint(2, 0));
    EXPECT_TRUE(list().viewport()->rect().contains(editor()->geometry().center()));
}

TEST_F(EditorPaneTest, ClickingAnotherLineCommitsAndCloses) {
    const QStringList lines = fullLines(20);
    setLines(lines);
    openAt(2, 0);
    type("41");
    const QString edited = editor()->text();
    QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, lineCentre(list(), 5));
    EXPECT_EQ(editor(), nullptr);
    EXPECT_EQ(list().currentRow(), 5);
    QStringList expected = lines;
    expected[2] = lines[2].left(7) + "41" + lines[2].mid(9, 50) + "A" + lines[2].mid(60);
    EXPECT_EQ(edited, expected[2]);
    EXPECT_EQ(list().lineTexts(), expected);
}

TEST_F(EditorPaneTest, DoubleClickOpensTheEditorOnTheClickedLine) {
    setLines(fullLines(20));
    doubleClick(list().viewport(), lineCentre(list(), 3));
    ASSERT_NE(editor(), nullptr);
    EXPECT_EQ(editor()->line(), 3);
    EXPECT_EQ(editor()->text(), list().lineText(3));
    EXPECT_TRUE(caretAt(editor(), 7));
    EXPECT_EQ(editor()->parentWidget(), list().viewport());
    EXPECT_EQ(editor()->geometry(), list().visualItemRect(list().item(3)).translated(2, 0));
    EXPECT_EQ(editor()->palette().color(QPalette::Text), QColor(200, 50, 50));

    // On an empty list a double-click opens nothing.
    m_dialog->CloseCellEdit();
    list().clear();
    doubleClick(list().viewport(), QPoint(20, 5));
    EXPECT_EQ(editor(), nullptr);
}

TEST_F(EditorPaneTest, FocusLossCommitsAndTheEditorStays) {
    setLines(fullLines(4));
    openAt(1, 32);
    type("Q");
    ASSERT_NE(list().lineText(1), editor()->text());
    m_dialog->item(ctl::FindText)->setFocus();
    EXPECT_EQ(list().lineText(1), editor()->text());
    ASSERT_NE(editor(), nullptr);
    EXPECT_EQ(list().lineText(1).mid(7, 2), "51");
    // "&Editor" closes the editor and the pane; the list keeps the change.
    editor()->setFocus();
    type("R");
    m_dialog->OnEditor();
    EXPECT_EQ(editor(), nullptr);
    EXPECT_EQ(list().lineText(1).mid(10, 2), "52");
}

TEST_F(EditorPaneTest, ShowFoundAtPutsTheCaretOnTheCell) {
    setLines(fullLines(100));
    openAt(77, 35);
    EXPECT_EQ(list().currentRow(), 77);
    EXPECT_TRUE(caretAt(editor(), 62));
    EXPECT_TRUE(list().viewport()->rect().contains(editor()->geometry().center()));
    m_dialog->ShowFoundAt(100, 0); // past the list: nothing opens
    EXPECT_EQ(editor(), nullptr);
}

TEST_F(EditorPaneTest, OverflowIndicatorFollowsTheLineCountWhileThePaneIsOpen) {
    QWidget *icon = m_dialog->item(ctl::Overflow);
    setLines(fullLines(hexline::kLoaderLineLimit - 1));
    m_dialog->OnTimer();
    EXPECT_TRUE(icon->isHidden());
    list().appendBlankLine();
    EXPECT_TRUE(testsupport::waitUntil([&] { return !icon->isHidden(); }, 2000))
        << "the timer did not show the indicator at 32,736 lines";
    // Closed, the pane leaves the indicator as it is, whatever the count.
    m_dialog->OnEditor();
    list().clear();
    m_dialog->OnTimer();
    EXPECT_FALSE(icon->isHidden());
    m_dialog->OnEditor();
    m_dialog->OnTimer();
    EXPECT_TRUE(icon->isHidden());
    m_dialog->OnEditor();
    setLines(fullLines(hexline::kLoaderLineLimit));
    m_dialog->OnTimer();
    EXPECT_TRUE(icon->isHidden());
}

TEST_F(EditorPaneTest, CollectBytesReadsTheListLines) {
    const std::uint8_t first[16] = {0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48,
                                    0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, 0x50};
    const std::uint8_t second[2] = {0x51, 0x52};
    setLines({hexline::formatLine(0, first, 16), hexline::formatLine(1, second, 2)});
    std::uint8_t buffer[32] = {};
    ASSERT_EQ(CollectBytes(list(), 14, 100, buffer), 4);
    EXPECT_EQ(QByteArray(reinterpret_cast<char *>(buffer), 4), QByteArray("OPQR"));
    // What the editor typed counts once it is committed.
    openAt(1, 4);
    type("7E");
    m_dialog->CloseCellEdit();
    ASSERT_EQ(CollectBytes(list(), 16, 100, buffer), 3);
    EXPECT_EQ(buffer[2], 0x7E);
}

} // namespace
