// Port names, the baud-rate text and the scan over a fake sysfs and /dev.
#include "serial/baud.h"
#include "serial/port_names.h"
#include "serial/serial_port.h"
#include "tests/fake_sysfs.h"
#include "tests/test_serial_fixture.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <limits>

using namespace std::chrono_literals;

TEST(SerialNames, DevicePath) {
    const std::pair<const char *, const char *> cases[] = {
        {"COM1", "/dev/ttyS0"},
        {"COM10", "/dev/ttyS9"},
        {"COM40", "/dev/ttyS39"},
        {"com3", "/dev/ttyS2"},
        {"Com3", "/dev/ttyS2"},
        {"cOM12", "/dev/ttyS11"},
        {"/dev/pts/3", "/dev/pts/3"},
        {"ttyUSB0", "/dev/ttyUSB0"},
        {"COM0", "/dev/COM0"},
        {"COMx", "/dev/COMx"},
        {"COM", "/dev/COM"},
        {"COM01", "/dev/COM01"},
        {"com0", "/dev/com0"},
        {"com01", "/dev/com01"},
        {"comx", "/dev/comx"},
        {"COM1a", "/dev/COM1a"},
        {"COM-1", "/dev/COM-1"},
        {"", ""},
        {"COM99999999999", "/dev/COM99999999999"}};
    for (const auto &[name, path] : cases)
        EXPECT_EQ(serial::devicePath(name, "/dev"), QString(path)) << name;
    EXPECT_EQ(serial::devicePath("COM3", "/tmp/d"), QString("/tmp/d/ttyS2"));
    EXPECT_EQ(serial::devicePath("/dev/ttyS0", "/tmp/d"), QString("/dev/ttyS0"));
}

TEST(SerialNames, BaudFromText) {
    constexpr auto kMax = std::numeric_limits<std::uint32_t>::max();
    const std::pair<const char *, std::uint32_t> cases[] = {{"9600", 9600},
                                                            {"115200 baud", 115200},
                                                            {"691200", 691200},
                                                            {"", 0},
                                                            {"fast", 0},
                                                            {" 9600", 0},
                                                            {"-300", 0},
                                                            {"0", 0},
                                                            {"4294967295", kMax},
                                                            {"4294967296", kMax},
                                                            {"99999999999999999999", kMax},
                                                            {"0009600", 9600}};
    for (const auto &[text, baud] : cases)
        EXPECT_EQ(serial::baudFromText(text), baud) << text;
}

TEST(SerialNames, WriteTimeout) {
    EXPECT_EQ(serial::writeTimeoutMultiplier(9600), 2u);
    EXPECT_EQ(serial::writeTimeoutMultiplier(19200), 1u);
    EXPECT_EQ(serial::writeTimeoutMultiplier(115200), 0u);
    EXPECT_EQ(serial::writeTimeoutMultiplier(110), 174u);
    EXPECT_EQ(serial::writeTimeoutMultiplier(1), 19200u);
    EXPECT_EQ(serial::writeTimeoutMultiplier(0), 0u);

    EXPECT_FALSE(serial::writeTimeout(0, 4096).has_value());
    EXPECT_EQ(serial::writeTimeout(2, 4096), 8192ms);
    EXPECT_EQ(serial::writeTimeout(19200, std::numeric_limits<qint64>::max()),
              std::chrono::milliseconds::max());
}

TEST(SerialNames, NaturalOrder) {
    QStringList names{"ttyUSB10", "ttyACM0", "ttyUSB2", "rfcomm0",
                      "ttyUSB1",  "ttyAMA0", "ttyUSB",  "ttyUSB99999999999999999999"};
    std::sort(names.begin(), names.end(), serial::naturalLess);
    EXPECT_EQ(names, (QStringList{"rfcomm0", "ttyACM0", "ttyAMA0", "ttyUSB", "ttyUSB1", "ttyUSB2",
                                  "ttyUSB10", "ttyUSB99999999999999999999"}));
    EXPECT_FALSE(serial::naturalLess("ttyUSB010", "ttyUSB10"));
    EXPECT_TRUE(serial::naturalLess("ttyUSB09", "ttyUSB10"));
}

using FakeTree = testsupport::FakeSysfs;
using serialtest::LockDir;

TEST(SerialScan, CandidatesAndOpenablePorts) {
    FakeTree tree;
    LockDir locks;
    testsupport::Pty com2, usb2, usb10;
    for (const char *name : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS3", "ttyS12"})
        ASSERT_TRUE(tree.kernelLists(name, true));
    ASSERT_TRUE(tree.kernelLists("tty0", false) && tree.kernelLists("ptmx", false));
    ASSERT_TRUE(tree.node("ttyS1", com2.slavePath()));
    ASSERT_TRUE(tree.node("ttyUSB2", usb2.slavePath()));
    ASSERT_TRUE(tree.node("ttyUSB10", usb10.slavePath()));
    testsupport::writeFile(tree.dev() + "/ttyACM0", "not a terminal");

    const QStringList candidates = serial::scanCandidates(tree.sys());
    ASSERT_EQ(candidates.size(), 43);
    EXPECT_EQ(candidates.first(), "COM1");
    EXPECT_EQ(candidates[39], "COM40");
    EXPECT_EQ(candidates.mid(40), (QStringList{"ttyACM0", "ttyUSB2", "ttyUSB10"}));

    serial::SerialPort held;
    ASSERT_TRUE(held.open(tree.dev() + "/ttyUSB10", locks.dirs()));
    EXPECT_EQ(serial::openablePorts(tree.sys(), tree.dev(), locks.dirs()),
              (QStringList{"COM2", "ttyUSB2"}));

    // The scan leaves nothing open behind it.
    serial::SerialPort again;
    EXPECT_TRUE(again.open(com2.slavePath(), locks.dirs()));
    held.close();
    EXPECT_EQ(serial::openablePorts(tree.sys(), tree.dev(), locks.dirs()),
              (QStringList{"ttyUSB2", "ttyUSB10"}));
}

// Ports other programs hold: one cooked by its holder, one it flagged exclusive without any
// lock (root could open it all the same), one marked by a live lock file, and one whose lock
// file is stale. The scan lists the free ones and leaves every port and lock as it was.
TEST(SerialScan, ProbingLeavesOtherProgramsPortsAlone) {
    FakeTree tree;
    LockDir locks;
    testsupport::Pty cooked, exclusive, locked, stale;
    const std::pair<const char *, const testsupport::Pty *> ports[] = {
        {"ttyUSB0", &cooked}, {"ttyUSB1", &exclusive}, {"ttyUSB2", &locked}, {"ttyUSB3", &stale}};
    for (const auto &[name, pty] : ports) {
        ASSERT_TRUE(tree.kernelLists(name, true));
        ASSERT_TRUE(tree.node(name, pty->slavePath()));
    }
    serialtest::makeCooked(cooked.slavePath());
    const termios cookedSettings = serialtest::ttySettings(cooked.slavePath());
    const int holder = serialtest::openTty(exclusive.slavePath());
    ASSERT_EQ(::ioctl(holder, TIOCEXCL), 0);
    testsupport::writeFile(locks.fileFor(locked.slavePath()), serialtest::hdbLock(::getpid()));
    const QByteArray staleLock = serialtest::hdbLock(serialtest::deadPid());
    testsupport::writeFile(locks.fileFor(stale.slavePath()), staleLock);

    EXPECT_EQ(serial::openablePorts(tree.sys(), tree.dev(), locks.dirs()),
              (QStringList{"ttyUSB0", "ttyUSB3"}));
    EXPECT_TRUE(
        serialtest::sameSettings(serialtest::ttySettings(cooked.slavePath()), cookedSettings));
    EXPECT_TRUE(serialtest::ttyExclusive(exclusive.slavePath()));
    EXPECT_EQ(testsupport::readFile(locks.fileFor(stale.slavePath())), staleLock);
    EXPECT_EQ(locks.count(), 2);
    ::close(holder);
}

TEST(SerialScan, MissingSysfsGivesComPortsOnly) {
    EXPECT_EQ(serial::scanCandidates("/nonexistent/sys/class/tty").size(), 40);
}
