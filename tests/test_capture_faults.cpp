// Captures that cannot start or cannot go on: the messages, what stays on disk, the controls,
// and a worker that never spins or outlives the window.
#include "res/control_ids.h"
#include "serial/serial_port.h"
#include "tests/test_capture_fixture.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QSettings>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::chrono::microseconds processCpuTime() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto total = [](const timeval &t) {
        return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
    };
    return total(usage.ru_utime) + total(usage.ru_stime);
}

TEST_F(CaptureTest, APortThatCannotBeOpenedLeavesTheFileAndTheName) {
    serial::SerialPort busy;
    ASSERT_TRUE(busy.open(pty.slavePath()));
    const QString ports[] = {QStringLiteral("/dev/kalvosan-no-such-port"), pty.slavePath(),
                             QStringLiteral("/dev/null")};
    setFileName(QStringLiteral("abc.vmf"));
    for (const QString &port : ports) {
        SCOPED_TRACE(port.toStdString());
        messages.clear();
        testsupport::writeFile(controlsPath(), "old content");
        setPort(port);
        clickStart();
        ASSERT_EQ(messages.messages().size(), 1u);
        EXPECT_EQ(messages.lastText(), "Could not open port " + port);
        EXPECT_EQ(messages.messages().back().icon, platform::MessageIcon::Critical);
        EXPECT_FALSE(testsupport::openInThisProcess(path()));
        // The capture did not start: the file at its name is left as it was.
        EXPECT_EQ(testsupport::readFile(path()), "old content");
        EXPECT_EQ(dialog->itemAs<QLineEdit>(ctl::CaptureFile)->text(), "abc.vmf");
        EXPECT_TRUE(dialog->item(ctl::Start)->isEnabled());
        EXPECT_FALSE(dialog->item(ctl::Stop)->isEnabled());
        EXPECT_FALSE(dialog->transferRunning());
    }
    busy.close();
    setPort(pty.slavePath());
    clickStart();
    EXPECT_TRUE(capturing()); // the port that was busy opens once it is free
    clickStop();
}

TEST_F(CaptureTest, AFileThatCannotBeCreatedStopsTheStart) {
    const QString missing = dropDir.path() + QStringLiteral("/missing");
    setDropDirectory(missing);
    clickStart();
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.lastText(), "Could not open file " + missing + "/data000000.bin");
    EXPECT_EQ(messages.messages().back().icon, platform::MessageIcon::Critical);
    EXPECT_FALSE(dialog->heldPort() && dialog->heldPort()->isOpen());
    EXPECT_FALSE(capturing());
    EXPECT_EQ(dialog->itemAs<QLineEdit>(ctl::CaptureFile)->text(), "data000000.bin");
}

// What is at the capture's name may not be the window's to empty: the file a link points at,
// or a numbered capture another program wrote meanwhile. The user's fixed name is replaced.
TEST_F(CaptureTest, NeitherALinksTargetNorAnotherProgramsCaptureIsEmptied) {
    setFileName(QStringLiteral("data000000.bin"));
    testsupport::writeFile(dropDir.filePath("data000000.bin"), "theirs");
    clickStart();
    ASSERT_TRUE(capturing());
    EXPECT_EQ(dialog->itemAs<QLineEdit>(ctl::CaptureFile)->text(), "data000001.bin");
    syncWithWorker();
    sendAndWait("ours");
    clickStop();
    EXPECT_EQ(payloadInFile(), "ours");
    EXPECT_EQ(path(), dropDir.filePath("data000001.bin"));
    EXPECT_EQ(testsupport::readFile(dropDir.filePath("data000000.bin")), "theirs");
    EXPECT_EQ(dialog->itemAs<QLineEdit>(ctl::CaptureFile)->text(), "data000002.bin");

    const QString victim = dropDir.filePath("victim.txt");
    testsupport::writeFile(victim, "victim");
    ASSERT_TRUE(QFile::link(victim, dropDir.filePath("link.bin")));
    setFileName(QStringLiteral("link.bin"));
    clickStart();
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.lastText(), "Could not open file " + dropDir.filePath("link.bin"));
    EXPECT_FALSE(capturing());
    EXPECT_EQ(testsupport::readFile(victim), "victim");

    setFileName(QStringLiteral("fixed.bin"));
    testsupport::writeFile(dropDir.filePath("fixed.bin"), "old");
    clickStart();
    ASSERT_TRUE(capturing());
    syncWithWorker();
    clickStop();
    EXPECT_EQ(path(), dropDir.filePath("fixed.bin"));
    EXPECT_EQ(payloadInFile(), "");
    EXPECT_EQ(messages.messages().size(), 1u);
}

TEST_F(CaptureTest, TheBaudRateText) {
    dialog->itemAs<QComboBox>(ctl::Baud)->setEditText(QString());
    clickStart();
    EXPECT_TRUE(messages.messages().empty());
    EXPECT_FALSE(QFileInfo::exists(path()));
    EXPECT_FALSE(capturing());
    // Without leading digits the port keeps its rate and the capture runs.
    dialog->itemAs<QComboBox>(ctl::Baud)->setEditText(QStringLiteral("fast"));
    clickStart();
    ASSERT_TRUE(capturing());
    syncWithWorker();
    sendAndWait("bytes");
    clickStop();
    EXPECT_EQ(payloadInFile(), "bytes");
    EXPECT_TRUE(messages.messages().empty());
}

TEST_F(CaptureTest, AFailedWriteEndsTheCaptureWithAMessage) {
    setDropDirectory(QStringLiteral("/dev"));
    setFileName(QStringLiteral("full"));
    clickStart();
    ASSERT_TRUE(capturing());
    syncUntilAMessage();
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.lastText(), "Could not write file /dev/full");
    EXPECT_EQ(messages.messages().back().icon, platform::MessageIcon::Critical);
    EXPECT_FALSE(capturing());
    EXPECT_TRUE(dialog->item(ctl::Port)->isEnabled());
    EXPECT_FALSE(dialog->transferRunning());
    EXPECT_FALSE(testsupport::openInThisProcess(path()));
    // The next capture starts normally.
    setDropDirectory(dropDir.path());
    clickStart();
    EXPECT_TRUE(capturing());
    clickStop();
}

// A capture file name that is a FIFO without a reader would block the window in the open,
// past even SIGTERM: it is refused.
TEST_F(CaptureTest, AFifoAsTheCaptureFileIsRefusedWithoutBlocking) {
    setFileName(QStringLiteral("fifo.bin"));
    const QString fifo = controlsPath();
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    // Should the open block after all, a reader comes after a while, so the test fails
    // instead of hanging.
    std::atomic<bool> done{false};
    std::thread rescue([&] {
        for (int i = 0; i < 100 && !done; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!done)
            ::close(::open(fifo.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK));
    });
    const auto started = std::chrono::steady_clock::now();
    clickStart();
    const auto took = std::chrono::steady_clock::now() - started;
    done = true;
    rescue.join();
    EXPECT_LT(took, std::chrono::seconds(2));
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.lastText(), "Could not open file " + fifo);
    EXPECT_FALSE(capturing());
}

// With the file-size limit (ulimit -f) reached, the write fails as on a full disk instead of
// the process dying of SIGXFSZ.
TEST_F(CaptureTest, AFileSizeLimitEndsTheCaptureWithAMessage) {
    clickStart();
    ASSERT_TRUE(capturing());
    syncWithWorker();
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit limited = old;
    limited.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    pty.write(QByteArray(8192, 'x'));
    const bool ended = testsupport::waitUntil([&] { return !messages.messages().empty(); });
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old), 0);
    ASSERT_TRUE(ended);
    EXPECT_EQ(messages.lastText(), "Could not write file " + path());
    EXPECT_FALSE(capturing());
    EXPECT_EQ(fileSize(), 4096);
    // The part of the burst that is in the file is counted.
    EXPECT_EQ(dialog->windowTitle(), "Kalvosan - Bytes received: 4096");
}

TEST_F(CaptureTest, ADeviceThatHangsUpNeitherSpinsNorBlocksStop) {
    clickStart();
    syncWithWorker();
    sendAndWait("before");
    pty.closeMaster();
    const auto cpuBefore = processCpuTime();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const auto cpuUsed = processCpuTime() - cpuBefore;
    // A worker that spun would use about the whole interval.
    EXPECT_LT(cpuUsed, std::chrono::milliseconds(300));
    EXPECT_TRUE(capturing());
    clickStop();
    EXPECT_FALSE(dialog->transferRunning());
    EXPECT_FALSE(capturing());
    EXPECT_EQ(payloadInFile(), "before");
}

TEST_F(CaptureTest, ClosingTheWindowDuringACaptureEndsTheWorkerAndKeepsTheFile) {
    clickStart();
    syncWithWorker();
    sendAndWait("kept");
    const QString file = path();
    dialog.reset();
    EXPECT_TRUE(testsupport::readFile(file).endsWith("kept"));
}

// SIGINT and SIGTERM land here: the capture ends as "Stop" ends it, then the window closes
// as "E&xit" does, saving the settings with the name already moved on.
TEST_F(CaptureTest, ATerminationSignalStopsTheCaptureSavesAndCloses) {
    setFileName("sig000.bin");
    clickStart();
    syncWithWorker();
    sendAndWait("complete");
    const QString file = path();
    dialog->shutdownOnSignal();
    EXPECT_FALSE(dialog->transferRunning());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(testsupport::readFile(file).endsWith("complete"));
    QSettings settings(QStringLiteral("Brisgal"), QStringLiteral("Kalvosan"));
    EXPECT_EQ(settings.value("Settings/file1").toString(), "sig001.bin");
}

} // namespace
