// UUCP lock files, as minicom and picocom leave them, in a lock directory of the test's own.
#include "serial/serial_port.h"
#include "tests/test_serial_fixture.h"
#include "tests/test_support.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <sys/file.h>
#include <unistd.h>

using serial::SerialPort;
using serialtest::hdbLock;
using serialtest::LockDir;
using testsupport::Pty;

// Every hand a lock file comes in: HDB's, minicom's with its name and user after the PID, bare
// digits amid blanks, the old binary int; and one that gives no PID yet (empty: its holder has
// just created it) or ever (garbled, 0). Each refuses the open by any path to the device, is left
// as it was, and the device is not even opened: every open of a tty raises DTR and RTS.
TEST(SerialLock, AHeldPortIsRefusedWithoutOpeningItByAnyPath) {
    Pty pty;
    LockDir locks;
    // The port as a link names it, like /dev/serial/by-id/... does.
    QTemporaryDir byId;
    const QString link = byId.filePath("usb-Maker_Cable-if00");
    ASSERT_TRUE(QFile::link(pty.slavePath(), link));
    serialtest::OpenWatch opens(pty.slavePath());
    const std::int32_t self = ::getpid();
    const QByteArray lockContents[] = {hdbLock(self),
                                       QByteArray::number(self).rightJustified(10, ' ') +
                                           " minicom root\n",
                                       "\t " + QByteArray::number(self) + " \r\n",
                                       QByteArray(reinterpret_cast<const char *>(&self), 4),
                                       QByteArray(),
                                       "garbage\n",
                                       QByteArray(4, '\0')};
    for (const QByteArray &content : lockContents) {
        testsupport::writeFile(locks.fileFor(pty.slavePath()), content);
        for (const QString &path : {pty.slavePath(), link}) {
            SerialPort port;
            EXPECT_FALSE(port.open(path, locks.dirs())) << content.toHex().toStdString();
            EXPECT_EQ(port.openError(), EBUSY);
            EXPECT_FALSE(serial::probeDevice(path, locks.dirs()));
        }
        EXPECT_EQ(testsupport::readFile(locks.fileFor(pty.slavePath())), content);
    }
    QFile::remove(locks.fileFor(pty.slavePath()));

    // A flock another opening holds is found in the kernel's list before the open, too.
    const int holder = serialtest::openTty(pty.slavePath());
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(opens.count(), 1);
    SerialPort port;
    EXPECT_FALSE(port.open(pty.slavePath(), locks.dirs()));
    EXPECT_FALSE(serial::probeDevice(pty.slavePath(), locks.dirs()));
    EXPECT_EQ(locks.count(), 0);
    EXPECT_EQ(opens.count(), 1) << "a held port was opened";
    ::close(holder);
    EXPECT_TRUE(port.open(link, locks.dirs()));
    EXPECT_EQ(opens.count(), 2);
}

TEST(SerialLock, TheUucpToolsReadingOfAPid) {
    EXPECT_EQ(serial::parseLockPid("      4242\n"), 4242);
    EXPECT_EQ(serial::parseLockPid("      4242 minicom someone\n"), 4242);
    EXPECT_EQ(serial::parseLockPid("4242"), 4242);
    const std::int32_t binary = 4242;
    EXPECT_EQ(serial::parseLockPid(QByteArray(reinterpret_cast<const char *>(&binary), 4)), 4242);
    for (const QByteArray &none :
         {QByteArray(), QByteArray("\n"), QByteArray("minicom 4242"), QByteArray("0\n"),
          QByteArray("99999999999999999999"), QByteArray("-5"), QByteArray(4, '\0')})
        EXPECT_EQ(serial::parseLockPid(none), std::nullopt) << none.toHex().toStdString();
}

TEST(SerialLock, OursIsTakenOnOpenOverStaleOnesAndGoesWithTheClose) {
    Pty pty;
    LockDir locks;
    const QString file = locks.fileFor(pty.slavePath());
    // The lock directory comes from KALVOSAN_LOCK_DIR when the caller names none.
    const QByteArray before = qgetenv("KALVOSAN_LOCK_DIR");
    qputenv("KALVOSAN_LOCK_DIR", QFile::encodeName(locks.dir.path()));
    SerialPort port;
    EXPECT_TRUE(port.open(pty.slavePath()));
    qputenv("KALVOSAN_LOCK_DIR", before);
    EXPECT_EQ(testsupport::readFile(file), hdbLock(::getpid()));
    port.close();
    EXPECT_FALSE(QFileInfo::exists(file));

    const std::int32_t dead = serialtest::deadPid();
    for (const QByteArray &stale :
         {hdbLock(dead), QByteArray::number(dead).rightJustified(10, ' ') + " minicom root\n",
          QByteArray(reinterpret_cast<const char *>(&dead), 4)}) {
        testsupport::writeFile(file, stale);
        ASSERT_TRUE(port.open(pty.slavePath(), locks.dirs())) << stale.toHex().toStdString();
        EXPECT_EQ(testsupport::readFile(file), hdbLock(::getpid()));
        port.close();
        EXPECT_EQ(locks.count(), 0);
    }

    // A lock someone else put in place of ours while we held the port is theirs: it stays.
    ASSERT_TRUE(port.open(pty.slavePath(), locks.dirs()));
    testsupport::writeFile(file, hdbLock(1));
    port.close();
    EXPECT_EQ(testsupport::readFile(file), hdbLock(1));
}

TEST(SerialLock, ALinkPlantedAtTheLockPathIsNotWrittenThrough) {
    Pty pty;
    LockDir locks;
    QTemporaryDir elsewhere;
    const QString victim = elsewhere.filePath("victim");
    const QString absent = elsewhere.filePath("absent");
    testsupport::writeFile(victim, "precious");
    const QString file = locks.fileFor(pty.slavePath());
    for (const QString &target : {victim, absent}) {
        ASSERT_TRUE(QFile::link(target, file));
        SerialPort port;
        ASSERT_TRUE(port.open(pty.slavePath(), locks.dirs()));
        EXPECT_FALSE(QFileInfo(file).isSymLink());
        EXPECT_EQ(testsupport::readFile(file), hdbLock(::getpid()));
        port.close();
    }
    EXPECT_EQ(testsupport::readFile(victim), "precious");
    EXPECT_FALSE(QFileInfo::exists(absent));
}

TEST(SerialLock, NoPlaceForALockFileIsNoError) {
    Pty pty;
    QTemporaryDir dir;
    const QString plainFile = dir.filePath("plain");
    testsupport::writeFile(plainFile, "x");
    for (const QString &lockDir : {dir.filePath("missing"), plainFile}) {
        SerialPort port;
        EXPECT_TRUE(port.open(pty.slavePath(), {lockDir})) << lockDir.toStdString();
    }
}
