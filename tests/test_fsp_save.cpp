// "Select range:" as typed into, and "&Save" through the window.
#include "res/control_ids.h"
#include "tests/test_fsp_support.h"

#include <QTemporaryDir>

namespace {

using fsptest::hexLine;
using fsptest::offsetLine;

class RangeDialogTest : public ::testing::Test {
protected:
    void SetUp() override { dialog.show(); }
    void type(QLineEdit *edit, const QString &text) { QTest::keyClicks(edit, text); }
    RangeDialog dialog;
    testsupport::MessageRecorder messages;
};

TEST_F(RangeDialogTest, StartsWithTheWholeRangeAndFiveCharacterFields) {
    EXPECT_EQ(dialog.windowTitle(), "Select range:");
    EXPECT_EQ(dialog.fromEdit()->text(), "0");
    EXPECT_EQ(dialog.toEdit()->text(), "7FD10");
    dialog.fromEdit()->clear();
    type(dialog.fromEdit(), "123456");
    EXPECT_EQ(dialog.fromEdit()->text(), "12345");
}

TEST_F(RangeDialogTest, RefusedChangesPutTheLastAcceptedTextBack) {
    QLineEdit *from = dialog.fromEdit();
    from->clear();
    type(from, "1a");
    EXPECT_EQ(from->text(), "1A") << "typed letters are made upper case";
    EXPECT_EQ(dialog.m_acceptedFrom, "1A");
    for (const char *bad : {"G", "-", "z", " ", "!"}) {
        from->setCursorPosition(1);
        type(from, QString::fromLatin1(bad));
        EXPECT_EQ(from->text(), "1A") << bad;
        EXPECT_EQ(from->cursorPosition(), 0) << bad;
    }
    type(from, "b");
    EXPECT_EQ(from->text(), "B1A") << "an accepted change keeps the caret where typing put it";
    EXPECT_EQ(from->cursorPosition(), 1);

    QLineEdit *to = dialog.toEdit();
    to->selectAll();
    type(to, "80000");
    EXPECT_EQ(to->text(), "8000");
    to->setText("7FD11");
    EXPECT_EQ(to->text(), "8000");
    to->setText("7FD10");
    EXPECT_EQ(dialog.m_acceptedTo, "7FD10");
}

TEST_F(RangeDialogTest, StartAboveEndIsRefusedAndTheDialogStaysOpen) {
    fsptest::answerRange(&dialog, "20", "10");
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].text, "Invalid range..");
    EXPECT_EQ(messages.messages()[0].caption, "Kalvosan");
    EXPECT_EQ(messages.messages()[0].icon, platform::MessageIcon::Critical);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_NE(dialog.result(), QDialog::Accepted);

    QTest::keyClicks(dialog.toEdit(), "0");
    QTest::keyClick(dialog.toEdit(), Qt::Key_Enter);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.m_fromValue, 0x20);
    EXPECT_EQ(dialog.m_toValue, 0x100);
    EXPECT_EQ(messages.messages().size(), 1u);
}

TEST_F(RangeDialogTest, EqualOffsetsAreAcceptedAndEscapeCancels) {
    fsptest::answerRange(&dialog, "7FD10", "7FD10");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.m_fromValue, 0x7FD10);

    RangeDialog other;
    other.show();
    fsptest::answerRange(&other, "10", "20", false);
    EXPECT_FALSE(other.isVisible());
    EXPECT_EQ(other.result(), QDialog::Rejected);
}

TEST(AskRange, CancelGivesTheWholeRange) {
    platform::uiHooks().execDialog = [](QDialog *) { return int(QDialog::Rejected); };
    const ByteRange range = askRange(nullptr);
    platform::uiHooks().execDialog = nullptr;
    EXPECT_EQ(range.from, 0);
    EXPECT_EQ(range.to, 0x7FD10);
}

class SaveTest : public fsptest::EditorFixture {
protected:
    void SetUp() override {
        EditorFixture::SetUp();
        path = dir.filePath("out.bin");
        platform::uiHooks().fileDialog = [this](const platform::FileDialogRequest &r) {
            EXPECT_EQ(r.kind, platform::FileDialogKind::Save);
            EXPECT_EQ(r.title, "Select file name");
            ++fileDialogs;
            return chosenPath;
        };
        chosenPath = path;
    }
    QByteArray save() {
        click(ctl::Save);
        return testsupport::readFile(path);
    }
    static QByteArray bytesFrom(int first, int count) {
        QByteArray b;
        for (int i = 0; i < count; ++i)
            b += char(first + i);
        return b;
    }

    QTemporaryDir dir;
    QString path;
    std::optional<QString> chosenPath;
    int fileDialogs = 0;
};

TEST_F(SaveTest, WritesTheRangeAsRawBytes) {
    setOffsetLines(3);
    rangeAnswer = {"10", "20"};
    EXPECT_EQ(save(), bytesFrom(0x10, 16));
    EXPECT_EQ(rangeDialogs, 1);

    rangeAnswer = {"0", "0"};
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_EQ(save(), QByteArray());
    EXPECT_TRUE(QFile::exists(path));

    rangeAnswer = {"2A", "7FD10"};
    EXPECT_EQ(save(), bytesFrom(0x2A, 6));
    EXPECT_TRUE(messages.messages().empty());
}

TEST_F(SaveTest, CancelledRangeSavesEverythingUpToTheFirstBlankCell) {
    setLines({offsetLine(0), offsetLine(1), hexLine(2, {0x20, 0x21, 0x22, 0x23, 0x24})});
    EXPECT_EQ(save(), bytesFrom(0, 37));
    EXPECT_EQ(rangeDialogs, 1);

    QString edited = offsetLine(1);
    edited[hexline::highDigitColumn(4)] = u' ';
    edited[hexline::highDigitColumn(4) + 1] = u' ';
    setLines({offsetLine(0), edited, offsetLine(2)});
    EXPECT_EQ(save(), bytesFrom(0, 20));
}

TEST_F(SaveTest, StartBeyondTheLinesLeavesAnEmptyFile) {
    setOffsetLines(2);
    testsupport::writeFile(path, "old contents");
    rangeAnswer = {"100", "200"};
    EXPECT_EQ(save(), QByteArray());
    EXPECT_TRUE(QFile::exists(path));
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].text, "Insufficient Memory..");
    EXPECT_EQ(messages.messages()[0].caption, "Kalvosan");
    EXPECT_EQ(messages.messages()[0].icon, platform::MessageIcon::Critical);
}

TEST_F(SaveTest, NothingHappensWithoutLinesOrAFileName) {
    click(ctl::Save);
    EXPECT_EQ(fileDialogs, 0);

    setOffsetLines(2);
    chosenPath.reset();
    click(ctl::Save);
    EXPECT_EQ(fileDialogs, 1);
    EXPECT_EQ(rangeDialogs, 0);
    EXPECT_FALSE(QFile::exists(path));
}

// A save that cannot be made says so: a folder that does not exist, a full disk (/dev/full
// takes the open and refuses the bytes).
TEST_F(SaveTest, AFileThatCannotBeOpenedOrWrittenIsReported) {
    setOffsetLines(2);
    chosenPath = dir.filePath("missing/out.bin");
    click(ctl::Save);
    EXPECT_EQ(rangeDialogs, 1);
    EXPECT_FALSE(QFile::exists(*chosenPath));
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.lastText(), "Could not open file " + *chosenPath);

    chosenPath = QStringLiteral("/dev/full");
    click(ctl::Save);
    ASSERT_EQ(messages.messages().size(), 2u);
    EXPECT_EQ(messages.lastText(), "Could not write file /dev/full");
    EXPECT_EQ(messages.messages().back().icon, platform::MessageIcon::Critical);
}

} // namespace
