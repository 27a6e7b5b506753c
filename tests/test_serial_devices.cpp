// The device listing over a sysfs and /dev of the test's own (the bench of devices as
// kalvosan-cli and the window's Scan list it is in test_cli_ports and test_capture_session).
#include "serial/device_list.h"
#include "tests/fake_sysfs.h"
#include "tests/test_serial_fixture.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using testsupport::FakeSysfs;
using testsupport::Pty;

// sysfs and /dev are read as outside input: a USB device's strings are what the device says,
// and a tree may hold loops, FIFOs, device nodes and files of any size where attributes go.
TEST(SerialDevices, HostileAttributesAreBoundedAndNothingButPlainFilesIsOpened) {
    FakeSysfs tree;
    Pty bystander;
    testsupport::UsbAdapter odd{"1a86", "7523", "\x1b]0;owned\x07QinHeng", "", "S1"};
    odd.driver = "ch341";
    ASSERT_TRUE(tree.usbTty("ttyUSB0", odd, 1));
    const QString usbDevice =
        QFileInfo(tree.sys() + "/ttyUSB0/device").canonicalFilePath() + "/../..";
    ASSERT_TRUE(FakeSysfs::write(usbDevice + "/product", QString(100000, u'P')));
    ASSERT_TRUE(QFile::remove(usbDevice + "/serial"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(usbDevice + "/serial").constData(), 0600), 0);
    // An attribute that is a tty: reading it would open the port.
    ASSERT_TRUE(QFile::remove(usbDevice + "/idProduct"));
    ASSERT_TRUE(QFile::link(bystander.slavePath(), usbDevice + "/idProduct"));
    serialtest::OpenWatch opens(bystander.slavePath());
    // A device link into a loop, and stable links that are dangling or loop.
    ASSERT_TRUE(QDir(tree.sys()).mkpath("ttyLOOP"));
    ASSERT_TRUE(QFile::link(tree.sys() + "/ttyLOOP/device", tree.sys() + "/ttyLOOP/device"));
    ASSERT_TRUE(tree.node("ttyUSB0", ""));
    ASSERT_TRUE(tree.stableLink("by-id", "usb-gone", "ttyUSB7"));
    ASSERT_TRUE(QFile::link("loop", tree.dev() + "/serial/by-id/loop"));
    ASSERT_TRUE(tree.stableLink("by-id", "usb-1a86_USB_Serial-if00-port0", "ttyUSB0"));
    // A link to a link to the device leads there as well.
    ASSERT_TRUE(QFile::link("usb-1a86_USB_Serial-if00-port0", tree.dev() + "/serial/by-id/chain"));

    const QList<serial::DeviceInfo> devices = serial::listDevices(tree.sys(), tree.dev());
    ASSERT_EQ(devices.size(), 1);
    const serial::DeviceInfo &device = devices[0];
    EXPECT_EQ(device.manufacturer, "?]0;owned?QinHeng");
    EXPECT_GT(device.product.size(), 100);
    EXPECT_LE(device.product.size(), 512);
    EXPECT_EQ(device.serial, "");
    EXPECT_EQ(device.pid, "");
    EXPECT_EQ(device.driver, "ch341");
    const QString byId = tree.dev() + "/serial/by-id/";
    EXPECT_EQ(device.links, (QStringList{byId + "chain", byId + "usb-1a86_USB_Serial-if00-port0"}));
    EXPECT_EQ(opens.count(), 0) << "an attribute that is a tty was opened";
}

} // namespace
