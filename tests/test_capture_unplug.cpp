// Captures that record arrival times, survive an unplug, and show the times in the pane.
#include "hexedit/editor_pane.h"
#include "hexedit/hex_list_box.h"
#include "loader/arrival_times.h"
#include "res/control_ids.h"
#include "tests/fake_sysfs.h"
#include "tests/test_capture_fixture.h"

#include <QAction>
#include <QFile>
#include <QHelpEvent>
#include <QMenu>
#include <QTest>
#include <QToolTip>

#include <memory>
#include <sys/resource.h>

namespace {

// Switches "Record arrival times" of the window's background menu, as the user would.
void setRecordArrivalTimes(TerminalDialog &dialog, bool on) {
    QMenu menu;
    dialog.fillWindowMenu(menu);
    for (QAction *action : menu.actions()) {
        if (action->text() == "Record &arrival times") {
            ASSERT_TRUE(action->isCheckable());
            if (action->isChecked() != on)
                action->trigger();
            return;
        }
    }
    FAIL() << "no \"Record &arrival times\" in the window menu";
}

TEST_F(CaptureTest, ArrivalTimesGoBesideTheCaptureAndIntoTheLinesToolTip) {
    setRecordArrivalTimes(*dialog, true);
    EXPECT_TRUE(dialog->recordsArrivalTimes());
    setFileName("times01.vm1"); // with a two-byte header: the offsets count it
    dialog->OnEditor();
    clickStart();
    syncWithWorker();
    for (const QByteArray &burst : {QByteArray(20, 'a'), QByteArray(40, 'b')}) {
        sendAndWait(burst);
        QTest::qWait(120); // the next burst comes in a read of its own
    }
    clickStop();
    const QByteArray capture = testsupport::readFile(path());
    EXPECT_TRUE(capture.startsWith("ti"));
    const QList<arrival::Burst> bursts = arrival::readSidecar(arrival::sidecarPath(path()));
    ASSERT_GE(bursts.size(), 3) << "sync, a, b";
    EXPECT_EQ(bursts.front().offset, 2);
    EXPECT_EQ(capture.at(bursts.back().offset), 'b');
    EXPECT_EQ(capture.at(bursts.back().offset - 1), 'a');
    for (qsizetype i = 1; i < bursts.size(); ++i)
        EXPECT_LT(bursts[i - 1].offset, bursts[i].offset);

    // Hovering a line shows when its first byte came.
    HexListBox *list = dialog->hexList();
    ASSERT_TRUE(testsupport::waitUntil([&] { return list->count() > 3; }));
    const int line = int(bursts.back().offset / 16);
    const QPoint at = list->visualItemRect(list->item(line)).center();
    QHelpEvent hover(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(list->viewport(), &hover);
    // The line holds the start of the last burst and no other: its first byte came with the one
    // before.
    const qsizetype holder = bursts.size() - (bursts.back().offset % 16 == 0 ? 1 : 2);
    ASSERT_LE(bursts.at(holder).offset, qint64(line) * 16);
    EXPECT_EQ(QToolTip::text(), "Arrived " + bursts.at(holder).time);
    // The first line begins with the header: its first burst starts after it.
    const QPoint first = list->visualItemRect(list->item(0)).center();
    QHelpEvent hoverFirst(QEvent::ToolTip, first, list->viewport()->mapToGlobal(first));
    QApplication::sendEvent(list->viewport(), &hoverFirst);
    EXPECT_EQ(QToolTip::text(), "Arrived " + bursts.front().time);
    // The capture is what the device sent, and nothing else.
    EXPECT_EQ(payloadInFile(2), QByteArray(20, 'a') + QByteArray(40, 'b'));
}

// The times file is created anew, never written through whatever was at its name; when the
// line that says the device came back cannot be written (here: the file-size limit), the capture
// ends with a message instead of going on without a word.
TEST_F(CaptureTest, AFailedWriteOfTheArrivalTimesEndsTheCapture) {
    QTemporaryDir byId;
    const QString link = byId.filePath("usb-kalvosan-if00");
    ASSERT_TRUE(QFile::link(pty.slavePath(), link));
    setPort(link);
    setRecordArrivalTimes(*dialog, true);
    setFileName("cap.bin");
    const QString times = arrival::sidecarPath(controlsPath());
    ASSERT_TRUE(QFile::link("/dev/full", times));
    clickStart();
    ASSERT_TRUE(capturing());
    syncWithWorker();
    EXPECT_FALSE(QFileInfo(times).isSymLink());
    pty.closeMaster();
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return dialog->windowTitle().startsWith("Kalvosan - Waiting for "); }));
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit limited = old;
    limited.rlim_cur = rlim_t(QFileInfo(times).size());
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    testsupport::Pty replugged;
    ASSERT_TRUE(QFile::remove(link));
    ASSERT_TRUE(QFile::link(replugged.slavePath(), link));
    const bool ended = testsupport::waitUntil([&] { return !messages.messages().empty(); });
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old), 0);
    ASSERT_TRUE(ended);
    EXPECT_EQ(messages.lastText(), "Could not write file " + times);
    EXPECT_FALSE(capturing());
    EXPECT_FALSE(dialog->windowTitle().startsWith("Kalvosan - Waiting for "));
}

// The port is named by its stable link, /dev/serial/by-id/... to ttyUSB0. The adapter goes
// away and comes back as ttyUSB1 (another pty), the link re-pointed as udev does it, and the
// capture goes on in the same file; the window keeps the name as it was typed.
TEST_F(CaptureTest, ACaptureWaitsForAnUnpluggedDeviceAndGoesOnWhenItIsBack) {
    testsupport::FakeSysfs tree;
    const QString link = tree.dev() + "/serial/by-id/usb-kalvosan-if00";
    ASSERT_TRUE(tree.node("ttyUSB0", pty.slavePath()));
    ASSERT_TRUE(tree.stableLink("by-id", "usb-kalvosan-if00", "ttyUSB0"));
    setPort(link);
    setRecordArrivalTimes(*dialog, true);
    clickStart();
    ASSERT_TRUE(capturing());
    syncWithWorker();
    sendAndWait("before the unplug|");
    pty.closeMaster();
    const QString waiting = "Kalvosan - Waiting for " + link + "...";
    ASSERT_TRUE(testsupport::waitUntil([&] { return dialog->windowTitle() == waiting; }))
        << dialog->windowTitle().toStdString();
    EXPECT_TRUE(capturing());
    QTest::qWait(600); // a reopening or two fail meanwhile
    auto replugged = std::make_unique<testsupport::Pty>();
    ASSERT_TRUE(tree.node("ttyUSB1", replugged->slavePath()));
    ASSERT_TRUE(QFile::remove(link));
    ASSERT_TRUE(tree.stableLink("by-id", "usb-kalvosan-if00", "ttyUSB1"));
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return dialog->windowTitle().startsWith("Kalvosan - Bytes received: "); }));
    const qint64 before = fileSize();
    replugged->write("after it");
    ASSERT_TRUE(testsupport::waitUntil([&] { return fileSize() == before + 8; }));
    clickStop();
    EXPECT_FALSE(dialog->transferRunning());
    EXPECT_EQ(payloadInFile(), "before the unplug|after it");
    EXPECT_EQ(dialog->portName(), link);
    const QList<arrival::Burst> bursts = arrival::readSidecar(arrival::sidecarPath(path()));
    ASSERT_FALSE(bursts.isEmpty());
    EXPECT_EQ(
        std::count_if(bursts.begin(), bursts.end(), [](const auto &b) { return b.reconnected; }),
        1);
    EXPECT_TRUE(messages.messages().empty());

    // Stop while the device is away: the title shows the count, as after any Stop.
    clickStart();
    ASSERT_TRUE(capturing());
    for (int attempt = 0; attempt < 20 && fileSize() == 0; ++attempt) {
        replugged->write("x");
        testsupport::waitUntil([&] { return fileSize() > 0; }, 300);
    }
    ASSERT_GT(fileSize(), 0);
    replugged->closeMaster();
    ASSERT_TRUE(testsupport::waitUntil([&] { return dialog->windowTitle() == waiting; }));
    clickStop();
    EXPECT_EQ(dialog->windowTitle(),
              QStringLiteral("Kalvosan - Bytes received: %1").arg(fileSize()));
}

} // namespace
