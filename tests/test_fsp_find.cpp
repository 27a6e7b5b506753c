// Find through the window: the search row's controls, the hits shown in the cell editor, and
// the report at the end of the list.
#include "hexedit/editor_pane.h"
#include "hexedit/hex_cell_edit.h"
#include "res/control_ids.h"
#include "tests/test_fsp_support.h"

#include <QApplication>
#include <QCheckBox>

#include <cstring>

namespace {

using fsptest::hexLine;

class FindTest : public fsptest::EditorFixture {
protected:
    QLineEdit *findEdit() { return dialog->itemAs<QLineEdit>(ctl::FindText); }
    QCheckBox *asciiBox() { return dialog->itemAs<QCheckBox>(ctl::Ascii); }
    QCheckBox *caseBox() { return dialog->itemAs<QCheckBox>(ctl::Case); }

    // Clicks "&Find"; the column the cell editor selected, or -1 when it did not open.
    int findColumn() {
        click(ctl::Find);
        if (!dialog->cellEdit())
            return -1;
        EXPECT_EQ(dialog->cellEdit()->selectedText().size(), 1);
        return dialog->cellEdit()->selectionStart();
    }
    void expectNothingFound() {
        ASSERT_EQ(messages.messages().size(), 1u);
        EXPECT_EQ(messages.messages()[0].text, "Nothing was found..");
        EXPECT_EQ(messages.messages()[0].caption, "Search completed");
        EXPECT_EQ(messages.messages()[0].icon, platform::MessageIcon::Information);
        EXPECT_EQ(dialog->editorPane()->findLine(), -1);
        EXPECT_EQ(dialog->editorPane()->findPos(), 0);
        messages.clear();
    }
};

TEST_F(FindTest, HexHitsOneByteApartThenNothingThenFromTheTop) {
    setLines({hexLine(0, {0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C,
                          0x4D, 0x4E, 0x4F, 0x41}),
              hexLine(1, {0x42, 0x00})});
    QTest::keyClicks(findEdit(), "41 4 2");
    EXPECT_EQ(findColumn(), 7);
    EXPECT_EQ(dialog->hexList()->currentRow(), 0);
    // The second hit runs from line 0 into line 1; it starts on line 0.
    EXPECT_EQ(findColumn(), 55);
    EXPECT_EQ(dialog->hexList()->currentRow(), 0);
    EXPECT_TRUE(messages.messages().empty());

    EXPECT_EQ(findColumn(), -1);
    expectNothingFound();
    EXPECT_EQ(findColumn(), 7);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the wait cursor was left on";
}

TEST_F(FindTest, HitOnALaterLineMovesTheCurrentLine) {
    setLines({fsptest::offsetLine(0), fsptest::offsetLine(1), fsptest::offsetLine(2),
              fsptest::offsetLine(3), fsptest::offsetLine(4)});
    QTest::keyClicks(findEdit(), "3a3b");
    EXPECT_EQ(findColumn(), hexline::highDigitColumn(10));
    EXPECT_EQ(dialog->hexList()->currentRow(), 3);
    EXPECT_EQ(dialog->cellEdit()->line(), 3);
}

TEST_F(FindTest, ChangingTheTextRestartsFromTheTop) {
    setLines({hexLine(0, {0x41, 0x41, 0x41})});
    QTest::keyClicks(findEdit(), "41");
    EXPECT_EQ(findColumn(), 7);
    EXPECT_EQ(findColumn(), 10);
    QTest::keyClick(findEdit(), Qt::Key_Space);
    EXPECT_EQ(dialog->editorPane()->findLine(), -1);
    EXPECT_EQ(dialog->editorPane()->findPos(), 0);
    EXPECT_EQ(findColumn(), 7);
}

TEST_F(FindTest, HexFieldPutsTheLastAcceptedTextBack) {
    QTest::keyClicks(findEdit(), "4a B");
    EXPECT_EQ(findEdit()->text(), "4a B");
    for (const char *bad : {"x", "g", "-", "\t"}) {
        QTest::keyClicks(findEdit(), QString::fromLatin1(bad));
        EXPECT_EQ(findEdit()->text(), "4a B") << bad;
    }
    findEdit()->insert(QStringLiteral("\u00e4"));
    EXPECT_EQ(findEdit()->text(), "4a B");
    // The whole text at once, as a paste brings it.
    findEdit()->setText("12zz");
    EXPECT_EQ(findEdit()->text(), "4a B");
}

TEST_F(FindTest, AsciiClickEmptiesTheTextAndSwitchesCase) {
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    dialog->item(ctl::Find)->setFocus();
    QTest::keyClicks(findEdit(), "41");
    EXPECT_FALSE(caseBox()->isEnabled());
    click(ctl::Ascii);
    EXPECT_TRUE(asciiBox()->isChecked());
    EXPECT_TRUE(findEdit()->text().isEmpty());
    EXPECT_TRUE(caseBox()->isEnabled());
    EXPECT_TRUE(findEdit()->hasFocus());
    // ASCII text is not filtered.
    QTest::keyClicks(findEdit(), "x-y");
    EXPECT_EQ(findEdit()->text(), "x-y");
    caseBox()->setChecked(true);
    click(ctl::Ascii);
    EXPECT_FALSE(caseBox()->isEnabled());
    EXPECT_TRUE(caseBox()->isChecked()) << "the tick stays while CASE is disabled";
    EXPECT_TRUE(findEdit()->text().isEmpty());
}

TEST_F(FindTest, AsciiSearchFollowsCase) {
    const auto bytes = [](const char *text) {
        return std::vector<std::uint8_t>(text, text + std::strlen(text));
    };
    setLines({hexLine(0, bytes("xxABCxxaBcxxabc")), hexLine(1, bytes("AA AA"))});
    click(ctl::Ascii);
    QTest::keyClicks(findEdit(), "abc");
    EXPECT_EQ(findColumn(), 59 + 2);
    EXPECT_EQ(findColumn(), 59 + 7);
    EXPECT_EQ(findColumn(), 59 + 12);
    EXPECT_EQ(findColumn(), -1);
    expectNothingFound();

    click(ctl::Case); // CASE
    EXPECT_EQ(findColumn(), 59 + 12);
    EXPECT_EQ(findColumn(), -1);
    expectNothingFound();

    // Blanks are kept in an ASCII search.
    findEdit()->setText("A A");
    EXPECT_EQ(findColumn(), 59 + 1);
    EXPECT_EQ(dialog->hexList()->currentRow(), 1);
}

TEST_F(FindTest, NothingToSearchInOrForIsHandled) {
    QTest::keyClicks(findEdit(), "41");
    EXPECT_EQ(findColumn(), -1);
    expectNothingFound();

    setLines({hexLine(0, {0x41})});
    for (const char *text : {"", "   ", "4"}) {
        findEdit()->setText(QString::fromLatin1(text));
        EXPECT_EQ(findColumn(), -1) << text;
        EXPECT_TRUE(messages.messages().empty()) << text;
    }
}

} // namespace
