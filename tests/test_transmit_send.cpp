// File sends end to end: the window's "Send" and "Abort" against a pty playing the device.
#include "res/control_ids.h"
#include "tests/test_transmit_fixture.h"

#include "app/timing_dialog.h"
#include "hexedit/hex_list_box.h"
#include "loader/hexline.h"
#include "platform/ui.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QThread>

#include <atomic>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace transmittest {
namespace {

class AbortTest : public TransmitTest {
protected:
    // "Abort" resets the controls at once, and the worker ends well within a generous bound.
    void abortAndJoin() {
        click(ctl::Abort);
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
        EXPECT_EQ(dialog->itemAs<QProgressBar>(ctl::Progress)->value(),
                  dialog->itemAs<QProgressBar>(ctl::Progress)->maximum());
        EXPECT_EQ(dialog->itemAs<QProgressBar>(ctl::Progress)->maximum(), content.size());
        EXPECT_FALSE(dialog->transferRunning());
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
    EXPECT_EQ(dialog->windowTitle(), "Kalvosan v" KV_PROJECT_VERSION);
    EXPECT_TRUE(pty.read(1, 200).isEmpty());
    EXPECT_TRUE(messages.messages().empty());
}

TEST_F(TransmitTest, AMissingOrUnnamedFileIsReportedAndThePortLeftAlone) {
    // A folder opens for reading on Linux, but is no file to send.
    ASSERT_TRUE(QDir().mkdir(path("folder")));
    for (const QString &name : {path("missing.bin"), QString(), path("folder")}) {
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
    send(unreadable);
    ASSERT_TRUE(waitIdle(10000));
    ASSERT_TRUE(testsupport::waitUntil([this] { return !messages.messages().empty(); }));
    EXPECT_EQ(messages.lastText(), "Could not read file " + unreadable);
    EXPECT_EQ(messages.messages().back().icon, platform::MessageIcon::Critical);
    EXPECT_TRUE(pty.read(1, 200).isEmpty());
}

TEST_F(TransmitTest, TheEndOfASendClosesACellEditorOpenedMeanwhile) {
    setDelay("20");
    send(sendFile(patternBytes(30, 31)));
    dialog->OnEditor();
    dialog->hexList()->addItem(hexline::blankLine(0));
    dialog->hexList()->setCurrentLine(0);
    dialog->BeginCellEdit();
    ASSERT_FALSE((dialog->cellEdit() == nullptr));
    ASSERT_TRUE(sending());
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE((dialog->cellEdit() == nullptr));
}

TEST_F(TransmitTest, AnEmptyBaudRateDoesNothing) {
    setBaud("");
    send(sendFile("abc"));
    EXPECT_TRUE(idle());
    EXPECT_FALSE(dialog->transferRunning());
    EXPECT_TRUE(messages.messages().empty());
}

// A delay that is not an integer stops the send before anything is opened: the window shows
// another file than the one the members still name.
TEST_F(TransmitTest, ADelayThatIsNoIntegerStopsTheSendWithTheFocusOnIt) {
    send(sendFile("hello"));
    EXPECT_EQ(pty.read(5, 10000), "hello");
    ASSERT_TRUE(waitIdle());
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    setDelay("1x");
    send(sendFile("other", "other.bin"));
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.lastText(), "Please enter an integer.");
    EXPECT_TRUE(dialog->item(ctl::Delay)->hasFocus());
    EXPECT_TRUE(idle());
    EXPECT_FALSE(dialog->transferRunning());
    EXPECT_TRUE(pty.read(1, 300).isEmpty());
}

// The device goes away during a send: the send ends, says so, and the title counts only the
// bytes that went out, for whole chunks and byte by byte in mode 1 alike.
TEST_F(TransmitTest, ADeviceThatHangsUpEndsTheSendWithAMessage) {
    for (const char *delay : {"-1", "0"}) {
        testsupport::Pty device;
        dialog->itemAs<QComboBox>(ctl::Port)->setEditText(device.slavePath());
        messages.clear();
        const QByteArray content = patternBytes(ptyCapacity() + 50000, 5);
        setDelay(delay);
        send(sendFile(content));
        ASSERT_TRUE(sending()) << delay;
        // The device reads nothing: the send stalls once the pty is full.
        QTest::qWait(300);
        device.closeMaster();
        ASSERT_TRUE(waitIdle(10000)) << delay;
        ASSERT_TRUE(testsupport::waitUntil([&] { return !messages.messages().empty(); }));
        EXPECT_EQ(messages.lastText(), "Could not write port " + device.slavePath()) << delay;
        EXPECT_EQ(messages.messages().back().icon, platform::MessageIcon::Critical);
        const QString title = dialog->windowTitle();
        const QString size = QString::number(content.size());
        ASSERT_TRUE(title.startsWith("Kalvosan - Bytes send: ")) << title.toStdString();
        const qint64 shown = title.section(u' ', 4, 4).toLongLong();
        EXPECT_GT(shown, 0) << delay;
        EXPECT_LE(shown, ptyCapacity()) << delay;
        EXPECT_EQ(title, QStringLiteral("Kalvosan - Bytes send: %1 (%2)").arg(shown).arg(size));
        dialog->StopAndJoinWorker();
    }
}

// A FIFO without a writer would block the window in the open for ever: it is refused.
TEST_F(TransmitTest, AFifoAsTheSendFileIsRefusedWithoutBlocking) {
    const QString fifo = path("fifo");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    // Should the open block after all, a writer comes after a while, so the test fails
    // instead of hanging.
    std::atomic<bool> done{false};
    std::thread rescue([&] {
        for (int i = 0; i < 100 && !done; ++i)
            QThread::msleep(50);
        if (!done) {
            const int fd = ::open(fifo.toLocal8Bit().constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
    });
    QElapsedTimer timer;
    timer.start();
    send(fifo);
    const qint64 took = timer.elapsed();
    done = true;
    rescue.join();
    EXPECT_LT(took, 2000);
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.lastText(), "Could not open file " + fifo);
    EXPECT_TRUE(idle());

    // A terminal nobody types into would hold the send's read, and the window's exit, for ever.
    testsupport::Pty terminal;
    std::thread hangUp([&] {
        for (int i = 0; i < 60 && !done; ++i)
            QThread::msleep(50);
        if (!done)
            terminal.closeMaster(); // ends a read that blocks, so the test fails, not hangs
    });
    done = false;
    send(terminal.slavePath());
    EXPECT_EQ(messages.messages().size(), 2u);
    EXPECT_EQ(messages.lastText(), "Could not open file " + terminal.slavePath());
    EXPECT_TRUE(idle());
    done = idle();
    hangUp.join();
}

// The background menu's "Last send timing..." shows what the last send byte by byte achieved:
// its figures and, under them, the histogram of its gaps, painted and described in words.
TEST_F(TransmitTest, ADelayedSendReportsItsTimingInTheWindowMenu) {
    struct Shown {
        QString figures, description;
        QImage picture;
    };
    std::vector<Shown> shown;
    struct Answerer {
        ~Answerer() { platform::uiHooks().execDialog = nullptr; }
    } answerer;
    platform::uiHooks().execDialog = [&shown](QDialog *d) {
        if (auto *timing = qobject_cast<TimingDialog *>(d)) {
            timing->resize(600, 420);
            timing->histogram()->resize(560, 260);
            shown.push_back({timing->figures()->text(),
                             timing->histogram()->accessibleDescription(),
                             timing->histogram()->grab().toImage()});
        }
        return int(QDialog::Accepted);
    };
    const auto showTiming = [this] {
        QMenu menu;
        dialog->fillWindowMenu(menu);
        QAction *timing = menu.actions().at(2);
        EXPECT_EQ(timing->text(), "Last send &timing...");
        EXPECT_TRUE(timing->isEnabled());
        timing->trigger();
    };
    setDelay("1");
    send(sendFile(patternBytes(40, 37)));
    ASSERT_EQ(pty.read(40, 10000).size(), 40);
    ASSERT_TRUE(waitIdle());
    showTiming();
    ASSERT_EQ(shown.size(), 1u);
    const Shown first = shown.back();
    EXPECT_TRUE(first.figures.startsWith("Bytes sent: 40\nDelay asked for: 1.000 ms\n"))
        << first.figures.toStdString();
    EXPECT_TRUE(first.figures.contains(" of 39")) << first.figures.toStdString();
    const QString median = QString::number(dialog->lastSendTiming()->medianMs, 'f', 3);
    EXPECT_TRUE(first.description.startsWith("Histogram of 39 gaps between bytes: median " +
                                             median + " ms"))
        << first.description.toStdString();
    // The bars and the pause's mark are painted.
    const auto pixels = [&first](QRgb colour) {
        int n = 0;
        for (int y = 0; y < first.picture.height(); ++y)
            for (int x = 0; x < first.picture.width(); ++x)
                n += (first.picture.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
        return n;
    };
    EXPECT_GT(pixels(qRgb(0x3c, 0x6e, 0xb4)), 100);
    EXPECT_GT(pixels(qRgb(0x1a, 0x8a, 0x2e)), 20);
    // A send of whole chunks afterwards leaves the report of the last send byte by byte.
    setDelay("-1");
    send(sendFile("whole"));
    ASSERT_EQ(pty.read(5, 10000), "whole");
    ASSERT_TRUE(waitIdle());
    showTiming();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown.back().figures, first.figures);
    EXPECT_EQ(shown.back().description, first.description);
    EXPECT_TRUE(messages.messages().empty());
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
    click(ctl::Abort);
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
    click(ctl::Open);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].kind, platform::FileDialogKind::Open);
    EXPECT_EQ(requests[0].title, "Select file for transmission");
    EXPECT_EQ(dialog->itemAs<QLineEdit>(ctl::SendFile)->text(), answer);
    EXPECT_EQ(dialog->sendFileName(), answer);

    answer = sendFile(patternBytes(20, 29));
    dialog->OnEditor();
    ASSERT_TRUE(dialog->editorOpen());
    click(ctl::Open);
    EXPECT_TRUE(testsupport::waitUntil([&] { return dialog->hexList()->count() == 2; }));

    platform::uiHooks().fileDialog = [](const platform::FileDialogRequest &) {
        return std::optional<QString>();
    };
    click(ctl::Open);
    EXPECT_EQ(dialog->itemAs<QLineEdit>(ctl::SendFile)->text(), answer);
    platform::uiHooks().fileDialog = nullptr;
}

} // namespace
} // namespace transmittest
