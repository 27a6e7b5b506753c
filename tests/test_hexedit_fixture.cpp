#include "tests/test_hexedit_fixture.h"
#include "res/control_ids.h"

#include "loader/hexline.h"
#include "tests/test_support.h"

#include <QCoreApplication>
#include <QTest>

#include <vector>

namespace hexedittest {

QStringList fullLines(int count, int first) {
    QStringList lines;
    lines.reserve(count);
    for (int line = first; line < first + count; ++line) {
        std::uint8_t bytes[16];
        for (int j = 0; j < 16; ++j)
            bytes[j] = static_cast<std::uint8_t>(line * 16 + j);
        lines.append(hexline::formatLine(line, bytes, 16));
    }
    return lines;
}

QString shortLine(int index, int bytes) {
    std::vector<std::uint8_t> data(bytes, 0x41);
    return hexline::formatLine(index, data.data(), bytes);
}

void EditorPaneTest::SetUp() {
    m_dialog = testsupport::startedDialog();
    ASSERT_TRUE(m_dialog);
    m_dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_dialog.get()));
    m_dialog->OnEditor();
    ASSERT_TRUE(m_dialog->editorOpen());
}

void EditorPaneTest::TearDown() {
    if (m_dialog) {
        m_dialog->CloseCellEdit();
        m_dialog->hide();
        m_dialog.reset();
    }
}

void EditorPaneTest::setLines(const QStringList &lines) {
    list().clear();
    list().addItems(lines);
}

HexCellEdit &EditorPaneTest::openAt(int line, int cell) {
    m_dialog->ShowFoundAt(line, cell);
    HexCellEdit *edit = editor();
    EXPECT_NE(edit, nullptr);
    return *edit;
}

void EditorPaneTest::type(const QString &keys) {
    QTest::keyClicks(editor(), keys);
}

void EditorPaneTest::key(Qt::Key k, Qt::KeyboardModifiers modifiers) {
    QTest::keyClick(editor(), k, modifiers);
}

void EditorPaneTest::settle(int ms) {
    testsupport::waitUntil([] { return false; }, ms);
    // The closed editor goes with deleteLater, which the test's own loop does not run.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QPoint EditorPaneTest::columnPoint(int column) const {
    // The nearest character boundary flips from column to column + 1 at the middle of the
    // character; one pixel to the right of that is on the character's right half.
    HexCellEdit *edit = editor();
    const int y = edit->height() / 2;
    for (int x = 0; x < edit->width(); ++x)
        if (edit->cursorPositionAt(QPoint(x, y)) > column)
            return QPoint(x + 1, y);
    ADD_FAILURE() << "column " << column << " not on screen";
    return {};
}

void doubleClick(QWidget *widget, QPoint pos) {
    QTest::mousePress(widget, Qt::LeftButton, {}, pos);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, pos);
    QTest::mouseDClick(widget, Qt::LeftButton, {}, pos);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, pos);
}

::testing::AssertionResult caretAt(const HexCellEdit *edit, int column) {
    if (edit == nullptr)
        return ::testing::AssertionFailure() << "no cell editor";
    if (edit->selectionStart() == column && edit->selectedText().size() == 1)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "selection starts at " << edit->selectionStart() << ", length "
           << edit->selectedText().size() << "; expected column " << column;
}

} // namespace hexedittest
