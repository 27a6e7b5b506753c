// File sends end to end: the window's "Send" and "Abort" against a pty playing the device.
#include "tests/test_transmit_fixture.h"

#include "hexedit/hex_list_box.h"
#include "loader/hexline.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace transmittest {
namespace {

class AbortTest : public TransmitTest {
protected:
    // "Abort" resets the controls at once, and the worker ends well within a generous bound.
    void abortAndJoin() {
        click(1014);
        EXPECT_TRUE(idle());
        QElapsedTimer timer;
        timer.start();
        dialog->StopAndJoinWorker();
        EXPECT_LT(timer.elapsed(), 2000);
    }
};

QByteArray allByteValues() {
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    return bytes;
}

TEST_F(TransmitTest, WholeChunksArriveByteExactWithTitleAndProgress) {
    for (const QByteArray &content : {allByteValues(), patternBytes(100 * 1024, 7)}) {
        send(sendFile(content));
        EXPECT_TRUE(sending());
        const QByteArray got = pty.read(int(content.size()), 30000);
        ASSERT_TRUE(waitIdle());
        EXPECT_EQ(got, content);
        const QString size = QString::number(content.size());
        EXPECT_EQ(dialog->windowTitle(), "Kalvosan - Bytes send: " + size + " (" + size + ")");
        EXPECT_EQ(dialog->m_progress->value(), dialog->m_progress->maximum());
        EXPECT_EQ(dialog->m_progress->maximum(), content.size());
        EXPECT_FALSE(dialog->m_running.load());
    }
    EXPECT_TRUE(messages.messages().empty());
}

TEST_F(TransmitTest, ByteByByteWithAndWithoutADelayKeepsOrderAndContent) {
    // 0 and a negative value other than -1 wait nothing; 2 ms waits after each byte.
    const QByteArray content = allByteValues() + patternBytes(700, 3);
    for (const char *delay : {"0", "-5", "2"}) {
        setDelay(delay);
        const QByteArray part = QByteArray(delay) == "2" ? content.left(64) : content;
        send(sendFile(part));
        const QByteArray got = pty.read(int(part.size()), 30000);
        ASSERT_TRUE(waitIdle()) << delay;
        EXPECT_EQ(got, part) << delay;
    }
}

TEST_F(TransmitTest, AnEmptyFileEndsTheSessionAtOnce) {
    send(sendFile({}));
    ASSERT_TRUE(waitIdle(5000));
    EXPECT_EQ(dialog->windowTitle(), "Kalvosan v1.2");
    EXPECT_TRUE(pty.read(1, 200).isEmpty());
    EXPECT_TRUE(messages.messages().empty());
}

TEST_F(TransmitTest, AMissingOrUnnamedFileIsReportedAndThePortLeftAlone) {
    for (const QString &name : {path("missing.bin"), QString()}) {
        messages.clear();
        send(name);
        ASSERT_EQ(messages.messages().size(), 1u);
        EXPECT_EQ(messages.lastText(), "Could not open file " + name);
        EXPECT_EQ(messages.messages().back().icon, platform::MessageIcon::Critical);
        EXPECT_TRUE(idle());
        EXPECT_FALSE(dialog->transferRunning());
    }
}

TEST_F(TransmitTest, AReadErrorEndsTheSendWithAMessage) {
    // Opens, but reading at offset 0 of one's own memory fails (nothing is mapped there).
    const QString unreadable = QStringLiteral("/proc/self/mem");
    dialog->m_replyMonitor = true; // an editor send would end the same way
    send(unreadable);
    ASSERT_TRUE(waitIdle(10000));
    ASSERT_TRUE(testsupport::waitUntil([this] { return !messages.messages().empty(); }));
    EXPECT_EQ(messages.lastText(), "Could not read file " + unreadable);
    EXPECT_EQ(messages.messages().back().icon, platform::MessageIcon::Critical);
    EXPECT_FALSE(dialog->m_replyMonitor.load());
    EXPECT_TRUE(pty.read(1, 200).isEmpty());
}

TEST_F(TransmitTest, TheEndOfASendClosesACellEditorOpenedMeanwhile) {
    setDelay("20");
    send(sendFile(patternBytes(30, 31)));
    dialog->OnEditor();
    dialog->m_hexList->addItem(hexline::blankLine(0));
    dialog->m_hexList->setCurrentLine(0);
    dialog->BeginCellEdit();
    ASSERT_FALSE(dialog->m_cellEdit.isNull());
    ASSERT_TRUE(sending());
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(dialog->m_cellEdit.isNull());
}

TEST_F(TransmitTest, AnEmptyBaudRateDoesNothing) {
    setBaud("");
    send(sendFile("abc"));
    EXPECT_TRUE(idle());
    EXPECT_FALSE(dialog->transferRunning());
    EXPECT_TRUE(messages.messages().empty());
}

TEST_F(TransmitTest, ADelayThatIsNoIntegerIsReportedAndTheSendGoesOnWithTheOldMembers) {
    send(sendFile("hello"));
    EXPECT_EQ(pty.read(5, 10000), "hello");
    ASSERT_TRUE(waitIdle());
    // The exchange stops at the delay, so the file name after it is not taken either.
    setDelay("1x");
    send(sendFile("other", "other.bin"));
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.lastText(), "Please enter an integer.");
    EXPECT_EQ(pty.read(5, 10000), "hello");
    EXPECT_TRUE(waitIdle());
}

// Whether every byte of part stands in whole, in the same order (dropped bytes leave gaps).
bool inOrderWithin(const QByteArray &part, const QByteArray &whole) {
    qsizetype at = 0;
    for (const char c : part) {
        at = whole.indexOf(c, at);
        if (at < 0)
            return false;
        ++at;
    }
    return true;
}

// The device never reads: the pty fills, and at 9600 baud each byte's write ends at its
// time-out of 2 ms. The kernel may still find room for a later byte after one was dropped,
// so what arrives is the file with gaps, in order.
TEST_F(TransmitTest, Mode2DropsWhatTheDeviceDoesNotTake) {
    const QByteArray content = patternBytes(ptyCapacity() + 600, 11);
    setBaud("9600");
    setDelay("0");
    setMode2(true);
    send(sendFile(content));
    ASSERT_TRUE(waitIdle(60000)); // the session ends by itself
    const QByteArray got = pty.read(int(content.size()), 1000);
    EXPECT_LT(got.size(), content.size());
    EXPECT_GT(got.size(), 0);
    EXPECT_TRUE(inOrderWithin(got, content));
}

TEST_F(TransmitTest, Mode1OffersTheRemainderAgainUntilTheDeviceTakesIt) {
    const QByteArray content = patternBytes(ptyCapacity() + 600, 13);
    setBaud("9600");
    setDelay("0");
    send(sendFile(content));
    // Far longer than the time-outs of the stalled writes.
    QThread::msleep(400);
    QCoreApplication::processEvents();
    EXPECT_TRUE(sending());
    const QByteArray got = pty.read(int(content.size()), 30000);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(got, content);
}

TEST_F(AbortTest, EndsAStalledSendPromptly) {
    const QByteArray content = patternBytes(ptyCapacity() + 20000, 17);
    setBaud("9600");
    send(sendFile(content));
    QThread::msleep(300);
    abortAndJoin();
    const QByteArray got = pty.read(int(content.size()), 500);
    EXPECT_LT(got.size(), content.size()); // the unsent rest is not written after Abort
    EXPECT_EQ(got, content.left(got.size()));
}

TEST_F(AbortTest, StopsADelayedSendAtOnce) {
    // 100 bytes at 200 ms each: the whole chunk would take 20 s.
    const QByteArray content = patternBytes(100, 19);
    setDelay("200");
    send(sendFile(content));
    QByteArray got = pty.read(2, 10000);
    ASSERT_GE(got.size(), 2);
    abortAndJoin();
    got += pty.read(int(content.size()), 500);
    EXPECT_LT(got.size(), content.size());
    EXPECT_EQ(got, content.left(got.size()));
    EXPECT_TRUE(idle());
}

TEST_F(TransmitTest, ANewSendAfterAbortWaitsForTheOldWorkerAndSendsOnlyItsOwnFile) {
    const QByteArray first = patternBytes(50, 23);
    setDelay("100");
    send(sendFile(first, "first.bin"));
    const QByteArray before = pty.read(1, 10000);
    ASSERT_GE(before.size(), 1);
    click(1014);
    setDelay("-1");
    const QByteArray second = "second file";
    send(sendFile(second, "second.bin"));
    const QByteArray got = pty.read(int(second.size()), 10000);
    ASSERT_TRUE(waitIdle());
    // Bytes of the first file that were under way may come first, never after the second.
    ASSERT_TRUE(got.endsWith(second));
    const QByteArray late = got.left(got.size() - second.size());
    EXPECT_EQ(late, first.mid(before.size(), late.size()));
    EXPECT_LT(before.size() + late.size(), first.size());
    EXPECT_EQ(dialog->windowTitle(), "Kalvosan - Bytes send: 11 (11)");
}

TEST_F(TransmitTest, OpenTakesATypedNameAndReloadsAnOpenPane) {
    std::vector<platform::FileDialogRequest> requests;
    QString answer = path("not-yet.bin");
    platform::uiHooks().fileDialog = [&](const platform::FileDialogRequest &r) {
        requests.push_back(r);
        return std::optional<QString>(answer);
    };
    click(1011);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].kind, platform::FileDialogKind::Open);
    EXPECT_EQ(requests[0].title, "Select file for transmission");
    EXPECT_EQ(dialog->itemAs<QLineEdit>(1012)->text(), answer);
    EXPECT_EQ(dialog->m_sendFileName, answer);

    answer = sendFile(patternBytes(20, 29));
    dialog->OnEditor();
    ASSERT_TRUE(dialog->m_editorOpen);
    click(1011);
    EXPECT_TRUE(testsupport::waitUntil([&] { return dialog->m_hexList->count() == 2; }));

    platform::uiHooks().fileDialog = [](const platform::FileDialogRequest &) {
        return std::optional<QString>();
    };
    click(1011);
    EXPECT_EQ(dialog->itemAs<QLineEdit>(1012)->text(), answer);
    platform::uiHooks().fileDialog = nullptr;
}

} // namespace
} // namespace transmittest
