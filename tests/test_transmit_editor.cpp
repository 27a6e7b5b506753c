// The editor's "S&end" with the reply monitor, and the drop directory chooser.
#include "hexedit/hex_list_box.h"
#include "loader/hexline.h"
#include "res/control_ids.h"
#include "tests/test_transmit_fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/resource.h>

namespace transmittest {
namespace {

QString line(int index, const QByteArray &bytes) {
    return hexline::formatLine(index, reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                               int(bytes.size()));
}

QByteArray counting(int first, int count) {
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes.append(char(first + i));
    return bytes;
}

class EditorSendTest : public TransmitTest {
protected:
    QString tempBin() const { return path("temp.bin"); }
    bool monitoring() { return sending() && dialog->monitoring(); }
    void abortMonitor() {
        click(ctl::Abort);
        ASSERT_TRUE(waitIdle(10000));
        dialog->StopAndJoinWorker();
        EXPECT_FALSE(dialog->replyMonitor());
        EXPECT_TRUE(inputBuffer().isEmpty());
    }
};

TEST_F(EditorSendTest, TheBytesGoOutAndTheReplyShowsUntilAbort) {
    const QByteArray bytes = counting(0x30, 19);
    dialog->hexList()->addItem(line(0, bytes.left(16)));
    dialog->hexList()->addItem(line(1, bytes.mid(16)));
    click(ctl::EditorSend);
    EXPECT_EQ(testsupport::readFile(tempBin()), bytes);
    EXPECT_EQ(dialog->itemAs<QLineEdit>(ctl::SendFile)->text(), tempBin());
    EXPECT_EQ(pty.read(19, 10000), bytes);
    ASSERT_TRUE(testsupport::waitUntil([this] { return monitoring(); }));
    EXPECT_EQ(dialog->windowTitle(), "Kalvosan - Bytes send: 19 (19)");

    pty.write(counting(0, 17));
    const QString expected = "00 01 02 03 04 05 06 07   08 09 0A 0B 0C 0D 0E 0F   \n10 ";
    EXPECT_TRUE(testsupport::waitUntil([&] { return inputBuffer() == expected; }))
        << inputBuffer().toStdString();
    pty.write(QByteArray("\xff\xab", 2));
    EXPECT_TRUE(testsupport::waitUntil([&] { return inputBuffer() == expected + "FF AB "; }))
        << inputBuffer().toStdString();
    EXPECT_TRUE(monitoring()); // only Abort ends it
    abortMonitor();
}

TEST_F(EditorSendTest, ABlankLineSendsNothingAndMonitorsAtOnce) {
    dialog->hexList()->addItem(hexline::blankLine(0));
    click(ctl::EditorSend);
    EXPECT_TRUE(QFileInfo(tempBin()).isFile());
    EXPECT_EQ(QFileInfo(tempBin()).size(), 0);
    ASSERT_TRUE(testsupport::waitUntil([this] { return monitoring(); }));
    EXPECT_EQ(dialog->windowTitle(), "Kalvosan v" KV_PROJECT_VERSION);
    // An empty bar, not a busy indicator (which a range of 0 to 0 gives).
    EXPECT_LT(dialog->itemAs<QProgressBar>(ctl::Progress)->minimum(),
              dialog->itemAs<QProgressBar>(ctl::Progress)->maximum());
    EXPECT_EQ(dialog->itemAs<QProgressBar>(ctl::Progress)->value(),
              dialog->itemAs<QProgressBar>(ctl::Progress)->minimum());
    pty.write("A");
    EXPECT_TRUE(testsupport::waitUntil([&] { return inputBuffer() == "41 "; }));
    EXPECT_TRUE(pty.read(1, 200).isEmpty());
    abortMonitor();
}

TEST_F(EditorSendTest, AnEmptyListDoesNothing) {
    click(ctl::EditorSend);
    EXPECT_FALSE(QFileInfo::exists(tempBin()));
    EXPECT_FALSE(dialog->replyMonitor());
    EXPECT_TRUE(idle());
}

TEST_F(EditorSendTest, AFailedEditorSendLeavesNoMonitoringForTheNextSend) {
    dialog->hexList()->addItem(line(0, "ab"));
    dialog->itemAs<QComboBox>(ctl::Port)->setEditText(path("no-such-port"));
    click(ctl::EditorSend);
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_TRUE(messages.lastText().startsWith("Could not open port "));
    EXPECT_FALSE(dialog->replyMonitor());
    EXPECT_TRUE(idle());

    dialog->itemAs<QComboBox>(ctl::Port)->setEditText(pty.slavePath());
    send(sendFile("plain"));
    EXPECT_EQ(pty.read(5, 10000), "plain");
    EXPECT_TRUE(waitIdle(10000));
}

// temp.bin that cannot be made (a folder at its name) or written in full (the file-size limit,
// as a full disk): said, nothing sent, and no part of it left to pass for the editor's bytes.
TEST_F(EditorSendTest, ATempFileThatCannotBeWrittenIsSaidAndNothingIsSent) {
    dialog->hexList()->addItem(line(0, counting(0, 16)));
    dialog->hexList()->addItem(line(1, counting(16, 16)));
    ASSERT_TRUE(QDir(dir.path()).mkdir("temp.bin"));
    click(ctl::EditorSend);
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.lastText(), "Could not open file " + tempBin());
    ASSERT_TRUE(QDir(dir.path()).rmdir("temp.bin"));

    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit limited = old;
    limited.rlim_cur = 20;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    click(ctl::EditorSend);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old), 0);
    ASSERT_EQ(messages.messages().size(), 2u);
    EXPECT_EQ(messages.lastText(), "Could not write file " + tempBin());
    EXPECT_FALSE(QFileInfo::exists(tempBin()));
    EXPECT_FALSE(dialog->replyMonitor());
    EXPECT_TRUE(idle());
    EXPECT_TRUE(pty.read(1, 300).isEmpty());
}

// A delay that is not an integer stops the editor's send before temp.bin is written: the
// device would otherwise get the previously opened file.
TEST_F(EditorSendTest, ADelayThatIsNoIntegerSendsNothing) {
    const QString previous = sendFile("previous");
    dialog->itemAs<QLineEdit>(ctl::SendFile)->setText(previous);
    dialog->hexList()->addItem(line(0, "new"));
    setDelay("2.5");
    click(ctl::EditorSend);
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.lastText(), "Please enter an integer.");
    EXPECT_FALSE(QFileInfo::exists(tempBin()));
    EXPECT_EQ(dialog->itemAs<QLineEdit>(ctl::SendFile)->text(), previous);
    EXPECT_TRUE(idle());
    EXPECT_FALSE(dialog->replyMonitor());
    EXPECT_TRUE(pty.read(1, 300).isEmpty());
}

// A device that keeps talking fills the reply display with at most its last 1 MiB of text,
// whole lines dropped from the top; what it shows stays the bytes received.
TEST_F(EditorSendTest, TheReplyDisplayStaysBounded) {
    dialog->hexList()->addItem(line(0, "go"));
    click(ctl::EditorSend);
    ASSERT_EQ(pty.read(2, 10000), "go");
    ASSERT_TRUE(testsupport::waitUntil([this] { return monitoring(); }));
    // 16 bytes make one display line of 53 characters: this is about 1.3 MiB of text.
    QByteArray flood;
    for (int i = 0; i < 26000; ++i)
        flood += counting(0, 16);
    flood += "\xAB\xCD";
    pty.write(flood);
    const QString tail = "AB CD ";
    ASSERT_TRUE(testsupport::waitUntil([&] { return inputBuffer().endsWith(tail); }, 60000));
    const QString shown = inputBuffer();
    EXPECT_LE(shown.size(), 1 << 20);
    EXPECT_GT(shown.size(), (1 << 20) - 2 * 53);
    const QString full = "00 01 02 03 04 05 06 07   08 09 0A 0B 0C 0D 0E 0F   ";
    EXPECT_TRUE(shown.startsWith(full));
    EXPECT_EQ(shown.count(full), shown.count(u'\n'));
    abortMonitor();
}

TEST_F(EditorSendTest, APlantedLinkIsNotWrittenThrough) {
    QTemporaryDir elsewhere;
    const QString victim = elsewhere.filePath("victim.txt");
    testsupport::writeFile(victim, "keep me");
    for (const QString &target : {victim, elsewhere.filePath("dangling.bin")}) {
        QFile::remove(tempBin());
        ASSERT_TRUE(QFile::link(target, tempBin()));
        dialog->hexList()->clear();
        dialog->hexList()->addItem(line(0, "xyz"));
        click(ctl::EditorSend);
        EXPECT_FALSE(QFileInfo(tempBin()).isSymLink());
        EXPECT_EQ(testsupport::readFile(tempBin()), "xyz");
        EXPECT_EQ(pty.read(3, 10000), "xyz");
        ASSERT_TRUE(testsupport::waitUntil([this] { return monitoring(); }));
        abortMonitor();
    }
    EXPECT_EQ(testsupport::readFile(victim), "keep me");
    EXPECT_FALSE(QFileInfo::exists(elsewhere.filePath("dangling.bin")));
}

TEST_F(TransmitTest, TheDropDirectoryChooserShowsThePathOrKeepsTheText) {
    std::vector<platform::FileDialogRequest> requests;
    std::optional<QString> answer = QString("/some/where with blanks/");
    platform::uiHooks().fileDialog = [&](const platform::FileDialogRequest &r) {
        requests.push_back(r);
        return answer;
    };
    auto *edit = dialog->itemAs<QLineEdit>(ctl::DropDirectory);
    const QString before = edit->text();
    click(ctl::Browse);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].kind, platform::FileDialogKind::Directory);
    EXPECT_EQ(requests[0].title, "Select drop directory");
    EXPECT_EQ(requests[0].startPath, before);
    EXPECT_EQ(edit->text(), "/some/where with blanks/");

    answer.reset();
    click(ctl::Browse);
    EXPECT_EQ(requests.back().startPath, "/some/where with blanks/");
    EXPECT_EQ(edit->text(), "/some/where with blanks/");
    edit->clear();
    click(ctl::Browse);
    EXPECT_TRUE(edit->text().isEmpty());
    platform::uiHooks().fileDialog = nullptr;
}

} // namespace
} // namespace transmittest
