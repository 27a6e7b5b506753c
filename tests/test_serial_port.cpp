// The serial port on a pseudo-terminal: the test plays the device on the master side.
#include "serial/serial_port.h"
#include "tests/test_serial_fixture.h"
#include "tests/test_support.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using serial::Readiness;
using serial::SerialPort;
using serial::WriteStatus;
using serialtest::makeCooked;
using serialtest::ttyExclusive;
using testsupport::Pty;

namespace {

QByteArray everyByte() {
    QByteArray bytes;
    for (int b = 0; b < 256; ++b)
        bytes.append(static_cast<char>(b));
    return bytes;
}

QByteArray readExactly(SerialPort &port, qsizetype count) {
    QByteArray got;
    testsupport::waitUntil([&] {
        char buf[4096];
        const qint64 n = port.read(buf, sizeof buf);
        if (n > 0)
            got.append(buf, n);
        return got.size() >= count;
    });
    return got;
}

constexpr qint64 kMoreThanAPtyHolds = 8 << 20;

} // namespace

TEST(SerialPort, OpensExclusively) {
    Pty pty;
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    EXPECT_TRUE(ttyExclusive(pty.slavePath()));
    SerialPort second;
    EXPECT_FALSE(second.open(pty.slavePath()));
    EXPECT_EQ(second.openError(), EBUSY);

    // Exclusivity must not outlive the port while another handle keeps the tty open.
    port.close();
    EXPECT_FALSE(ttyExclusive(pty.slavePath()));
    EXPECT_TRUE(second.open(pty.slavePath()));
    second.close();

    // Another program's exclusive flag, which root passes at the open, refuses the port too;
    // and the close of a refused port must not clear it.
    const int holder = serialtest::openTty(pty.slavePath());
    ASSERT_EQ(::ioctl(holder, TIOCEXCL), 0);
    EXPECT_FALSE(port.open(pty.slavePath()));
    EXPECT_EQ(port.openError(), EBUSY);
    port.close();
    EXPECT_TRUE(ttyExclusive(pty.slavePath()));
    ::close(holder);
}

TEST(SerialPort, RefusesWhatIsNotATerminal) {
    QTemporaryDir dir;
    const QString file = dir.filePath("plain");
    testsupport::writeFile(file, "x");
    SerialPort port;
    for (const QString &path : {QString("/dev/null"), file, dir.path(), dir.filePath("missing")}) {
        EXPECT_FALSE(port.open(path)) << path.toStdString();
        EXPECT_FALSE(port.isOpen());
        EXPECT_NE(port.openError(), 0);
    }
    EXPECT_FALSE(port.open(""));
    EXPECT_EQ(port.read(nullptr, 0), -1);
    EXPECT_EQ(port.write("x", 1, std::nullopt, std::atomic<bool>(true)).status,
              WriteStatus::Failed);
}

TEST(SerialPort, EveryByteValuePassesBothWays) {
    Pty pty;
    makeCooked(pty.slavePath());
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    const QByteArray bytes = everyByte() + everyByte();

    pty.write(bytes);
    ASSERT_TRUE(testsupport::waitUntil([&] { return port.bytesAvailable() == bytes.size(); }));
    char small[100];
    EXPECT_EQ(port.read(small, sizeof small), 100);
    EXPECT_EQ(port.bytesAvailable(), bytes.size() - 100);
    EXPECT_EQ(QByteArray(small, 100) + readExactly(port, bytes.size() - 100), bytes);
    EXPECT_EQ(port.read(small, sizeof small), 0);

    const std::atomic<bool> running(true);
    const auto result = port.write(bytes.constData(), bytes.size(), 5s, running);
    EXPECT_EQ(result.status, WriteStatus::Complete);
    EXPECT_EQ(result.taken, bytes.size());
    EXPECT_EQ(pty.read(bytes.size()), bytes);
}

TEST(SerialPort, ConfigureReadsBackWhatTheDriverKept) {
    Pty pty;
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    EXPECT_EQ(port.configure({.baud = 691200,
                              .dataBitsIndex = 4,
                              .stopBitsIndex = 2,
                              .parityIndex = 2,
                              .flowIndex = 2}),
              QStringList());
    EXPECT_EQ(port.lineState()->ospeed, 691200u);
    EXPECT_EQ(port.configure({.baud = 0}), QStringList());
    EXPECT_EQ(port.lineState()->ospeed, 691200u);
    // A pty forces 8 bits without parity; the request succeeds, the read-back tells.
    EXPECT_EQ(port.configure({.dataBitsIndex = 3, .parityIndex = 0}),
              QStringList({"data bits 8 instead of 7", "parity none instead of even"}));
}

TEST(SerialPort, WriteToADeviceThatDoesNotReadHitsItsDeadline) {
    Pty pty;
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    const QByteArray bytes(kMoreThanAPtyHolds, 'a');
    const std::atomic<bool> running(true);
    const auto result = port.write(bytes.constData(), bytes.size(), 200ms, running);
    EXPECT_EQ(result.status, WriteStatus::DeadlinePassed);
    EXPECT_GT(result.taken, 0);
    EXPECT_LT(result.taken, bytes.size());
}

TEST(SerialPort, RunFlagStopsAWriteWithoutDeadline) {
    Pty pty;
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    const QByteArray bytes(kMoreThanAPtyHolds, 'a');
    std::atomic<bool> running(true);
    auto writing = std::async(std::launch::async, [&] {
        return port.write(bytes.constData(), bytes.size(), std::nullopt, running);
    });
    EXPECT_EQ(writing.wait_for(100ms), std::future_status::timeout);
    running = false;
    ASSERT_EQ(writing.wait_for(5s), std::future_status::ready);
    const auto result = writing.get();
    EXPECT_EQ(result.status, WriteStatus::Stopped);
    EXPECT_GT(result.taken, 0);
    EXPECT_LT(result.taken, bytes.size());

    EXPECT_EQ(port.write("x", 1, std::nullopt, running).status, WriteStatus::Stopped);
}

TEST(SerialPort, HangUpIsReportedEveryTime) {
    Pty pty;
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    EXPECT_EQ(port.waitReadable(10), Readiness::TimedOut);
    pty.write("ab");
    EXPECT_EQ(port.waitReadable(5000), Readiness::Readable);
    EXPECT_EQ(readExactly(port, 2), "ab");

    pty.closeMaster();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(port.waitReadable(5000), Readiness::HungUp);
    char buf[16];
    EXPECT_LE(port.read(buf, sizeof buf), 0);
    const std::atomic<bool> running(true);
    EXPECT_EQ(port.write("x", 1, 1s, running).status, WriteStatus::Failed);
}

TEST(SerialPort, ModemLinesAndRs485FailHarmlesslyOnAPty) {
    Pty pty;
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    const auto before = port.lineState();
    EXPECT_FALSE(port.setDtr(true));
    EXPECT_FALSE(port.setDtr(false));
    EXPECT_FALSE(port.setRts(true));
    EXPECT_FALSE(port.setRts(false));
    EXPECT_FALSE(port.enableRs485());
    EXPECT_EQ(port.lineState(), before);
    pty.write("\x11\x13");
    EXPECT_EQ(readExactly(port, 2), "\x11\x13");
}

TEST(SerialPort, PurgeDropsQueuedInput) {
    Pty pty;
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    pty.write("stale");
    ASSERT_TRUE(testsupport::waitUntil([&] { return port.bytesAvailable() == 5; }));
    EXPECT_TRUE(port.purge());
    EXPECT_EQ(port.bytesAvailable(), 0);
    pty.write("new");
    EXPECT_EQ(readExactly(port, 3), "new");
}
