// UUCP lock files, as minicom and picocom leave them, in a lock directory of the test's own.
#include "serial/serial_port.h"
#include "tests/test_serial_fixture.h"
#include "tests/test_support.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <unistd.h>

using serial::SerialPort;
using serialtest::hdbLock;
using serialtest::LockDir;
using testsupport::Pty;

TEST(SerialLock, ALiveLockRefusesTheOpenByAnyPath) {
    Pty pty;
    LockDir locks;
    // The port as a link names it, like /dev/serial/by-id/... does.
    QTemporaryDir byId;
    const QString link = byId.filePath("usb-Maker_Cable-if00");
    ASSERT_TRUE(QFile::link(pty.slavePath(), link));
    const std::int32_t self = ::getpid();
    const QByteArray lockContents[] = {hdbLock(self), QByteArray::number(self),
                                       "\t " + QByteArray::number(self) + " \r\n",
                                       QByteArray(reinterpret_cast<const char *>(&self), 4)};
    for (const QByteArray &content : lockContents) {
        testsupport::writeFile(locks.fileFor(pty.slavePath()), content);
        for (const QString &path : {pty.slavePath(), link}) {
            SerialPort port;
            EXPECT_FALSE(port.open(path, locks.dirs())) << content.toHex().toStdString();
            EXPECT_EQ(port.openError(), EBUSY);
        }
        EXPECT_EQ(testsupport::readFile(locks.fileFor(pty.slavePath())), content);
    }
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

    for (const QByteArray &stale : {hdbLock(serialtest::deadPid()), QByteArray("garbage\n"),
                                    QByteArray(), QByteArray(4, '\0')}) {
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
