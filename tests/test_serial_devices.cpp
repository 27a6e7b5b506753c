// The device listing over a sysfs and /dev of the test's own.
#include "serial/device_list.h"
#include "tests/fake_sysfs.h"
#include "tests/test_serial_fixture.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using testsupport::FakeSysfs;
using testsupport::Pty;

struct Expected {
    const char *name;
    const char *com;
    const char *driver;
    const char *vid;
    const char *serial;
    int links;
    const char *description;
};

TEST(SerialDevices, TheBenchIsListedFromSysfsWithoutOpeningAnyPort) {
    FakeSysfs tree;
    Pty usb0, usb1, acm0, uart;
    ASSERT_TRUE(testsupport::addBench(
        tree, {usb0.slavePath(), usb1.slavePath(), acm0.slavePath(), uart.slavePath()}));
    ASSERT_TRUE(tree.kernelLists("tty0", false));
    std::vector<std::unique_ptr<serialtest::OpenWatch>> opens;
    for (const Pty *pty : {&usb0, &usb1, &acm0, &uart})
        opens.push_back(std::make_unique<serialtest::OpenWatch>(pty->slavePath()));

    const QList<serial::DeviceInfo> devices = serial::listDevices(tree.sys(), tree.dev());
    const QString byId = tree.dev() + "/serial/by-id/";
    const Expected expected[] = {
        {"ttyACM0", "", "cdc_acm", "2e8a", "E6614C311B4A8B2C", 2,
         "Pico - Raspberry Pi (2e8a:000a, serial E6614C311B4A8B2C) - "},
        {"ttyS0", "COM1", "serial8250", "", "", 0, "serial8250 - "},
        {"ttyUSB0", "", "ftdi_sio", "0403", "A50285BI", 2,
         "FT232R USB UART - FTDI (0403:6001, serial A50285BI) - "},
        {"ttyUSB1", "", "ftdi_sio", "0403", "A50285BJ", 2,
         "FT232R USB UART - FTDI (0403:6001, serial A50285BJ) - "},
    };
    ASSERT_EQ(devices.size(), std::size(expected));
    for (qsizetype i = 0; i < devices.size(); ++i) {
        const serial::DeviceInfo &device = devices[i];
        const Expected &e = expected[i];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(device.name, e.name);
        EXPECT_EQ(device.path, tree.dev() + '/' + e.name);
        EXPECT_EQ(device.com, e.com);
        EXPECT_EQ(device.driver, e.driver);
        EXPECT_EQ(device.vid, e.vid);
        EXPECT_EQ(device.serial, e.serial);
        EXPECT_EQ(device.interfaceNumber, *e.vid ? std::optional<int>(0) : std::nullopt);
        ASSERT_EQ(device.links.size(), e.links);
        if (e.links > 0) {
            EXPECT_TRUE(device.links[0].startsWith(byId));
            EXPECT_TRUE(device.links[1].startsWith(tree.dev() + "/serial/by-path/"));
        }
        EXPECT_EQ(serial::describeDevice(device),
                  e.description + device.links.value(0, device.path));
    }
    EXPECT_EQ(devices[2].links[0], byId + "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");

    // A port name finds its device by its path, its COM name or a stable link.
    const QString twin = byId + "usb-FTDI_FT232R_USB_UART_A50285BJ-if00-port0";
    EXPECT_EQ(serial::describePort("COM1", devices, tree.dev()),
              "serial8250 - " + tree.dev() + "/ttyS0");
    EXPECT_EQ(serial::describePort("ttyUSB1", devices, tree.dev()),
              serial::describeDevice(devices[3]));
    EXPECT_EQ(serial::describePort(twin, devices, tree.dev()), serial::describeDevice(devices[3]));
    EXPECT_EQ(serial::describePort("COM9", devices, tree.dev()), tree.dev() + "/ttyS8");

    for (const auto &watch : opens)
        EXPECT_EQ(watch->count(), 0) << "the listing opened a port";
}

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
