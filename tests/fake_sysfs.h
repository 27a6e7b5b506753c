// A sysfs and a /dev of a test's (or a benchmark's) own, laid out as the kernel and udev lay
// them out: /sys/class/tty/<name> with a device link into /sys/devices and a driver link
// there, a USB adapter's attributes on its interface and device folders; /dev/<name> and the
// stable links in /dev/serial/by-id and by-path. The window and kalvosan-cli read their roots
// from KALVOSAN_SYSFS_TTY_DIR and KALVOSAN_DEV_DIR. QtCore only, no test framework.
#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace testsupport {

struct UsbAdapter {
    QString vid;
    QString pid;
    QString manufacturer;
    QString product;
    QString serial;
    QString driver = QStringLiteral("ftdi_sio");
    int interfaceNumber = 0;
    bool acm = false; // the tty's device is the interface itself, as with cdc_acm
};

class FakeSysfs {
public:
    FakeSysfs() {
        for (const char *dir :
             {"sys/class/tty", "sys/devices", "dev/serial/by-id", "dev/serial/by-path"})
            QDir(m_root.path()).mkpath(QLatin1StringView(dir));
    }

    QString sys() const { return m_root.filePath(QStringLiteral("sys/class/tty")); }
    QString dev() const { return m_root.filePath(QStringLiteral("dev")); }

    // A tty the kernel lists, with a device folder behind it or without one (a virtual console,
    // a pseudo-terminal).
    bool kernelLists(const QString &name, bool withDevice) {
        return QDir(sys()).mkpath(withDevice ? name + QStringLiteral("/device") : name);
    }

    // A UART on the platform bus; `type` is the serial core's (0: no UART at that address).
    // As since Linux 6.5, the tty's device is the serial core's port below its controller
    // (bus serial-base, drivers "port" and "ctrl"), both below the UART's device.
    bool platformUart(const QString &name, const QString &driver, int type) {
        const QString device = sysPath(QStringLiteral("devices/platform/") + driver);
        const QString controller = device + u'/' + driver + QStringLiteral(":0");
        const QString port = controller + u'/' + driver + QStringLiteral(":0.") + name;
        const QString base = QStringLiteral("serial-base");
        return QDir().mkpath(port) && ttyOn(name, port) &&
               onBus(device, QStringLiteral("platform"), driver) &&
               onBus(controller, base, QStringLiteral("ctrl")) &&
               onBus(port, base, QStringLiteral("port")) &&
               write(sys() + u'/' + name + QStringLiteral("/type"), QString::number(type));
    }

    // A USB adapter's tty, on port `port` of the first bus. Two ttys on the same port are two
    // interfaces of one adapter.
    bool usbTty(const QString &name, const UsbAdapter &usb, int port) {
        const QString device =
            sysPath(QStringLiteral("devices/pci0000:00/0000:00:14.0/usb1/1-%1").arg(port));
        const QString interface =
            device + QStringLiteral("/1-%1:1.%2").arg(port).arg(usb.interfaceNumber);
        const QString tty = usb.acm ? interface : interface + u'/' + name;
        return QDir().mkpath(tty) && write(device + QStringLiteral("/idVendor"), usb.vid) &&
               write(device + QStringLiteral("/idProduct"), usb.pid) &&
               write(device + QStringLiteral("/manufacturer"), usb.manufacturer) &&
               write(device + QStringLiteral("/product"), usb.product) &&
               write(device + QStringLiteral("/serial"), usb.serial) &&
               write(interface + QStringLiteral("/bInterfaceNumber"),
                     QStringLiteral("%1").arg(usb.interfaceNumber, 2, 16, QChar(u'0'))) &&
               ttyOn(name, tty) &&
               onBus(tty, usb.acm ? QStringLiteral("usb") : QStringLiteral("usb-serial"),
                     usb.driver);
    }

    // <dev>/<name>: a link to the device node (a pty's), or a plain file where target is empty.
    bool node(const QString &name, const QString &target) {
        const QString path = dev() + u'/' + name;
        return target.isEmpty() ? write(path, {}) : QFile::link(target, path);
    }

    // <dev>/serial/<kind>/<link> pointing at ../../<name>, as udev makes it.
    bool stableLink(const QString &kind, const QString &link, const QString &name) {
        return QFile::link(QStringLiteral("../../") + name,
                           dev() + QStringLiteral("/serial/") + kind + u'/' + link);
    }

    // Points a program started with this environment at the tree.
    void addTo(QProcessEnvironment &environment) const {
        environment.insert(QStringLiteral("KALVOSAN_SYSFS_TTY_DIR"), sys());
        environment.insert(QStringLiteral("KALVOSAN_DEV_DIR"), dev());
    }

    static bool write(const QString &path, const QString &text) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8() + '\n') >= 0;
    }

private:
    QString sysPath(const QString &relative) const {
        return m_root.filePath(QStringLiteral("sys/") + relative);
    }
    bool ttyOn(const QString &name, const QString &device) {
        return QDir(sys()).mkpath(name) &&
               QFile::link(device, sys() + u'/' + name + QStringLiteral("/device"));
    }
    // The device's subsystem and driver links. Devices with several ports (a UART
    // controller) get them once.
    bool onBus(const QString &device, const QString &bus, const QString &driver) {
        const QString busPath = sysPath(QStringLiteral("bus/") + bus);
        const QString driverPath = busPath + QStringLiteral("/drivers/") + driver;
        return QDir().mkpath(driverPath) && link(busPath, device + QStringLiteral("/subsystem")) &&
               link(driverPath, device + QStringLiteral("/driver"));
    }
    static bool link(const QString &target, const QString &link) {
        return QFile::link(target, link) || QFileInfo(link).symLinkTarget() == target;
    }

    QTemporaryDir m_root;
};

// Points this program's KALVOSAN_SYSFS_TTY_DIR and KALVOSAN_DEV_DIR at a tree while it lives
// (the window's Scan reads them), and back to what they were.
class TreeInUse {
public:
    explicit TreeInUse(const FakeSysfs &tree)
        : m_sys(qgetenv("KALVOSAN_SYSFS_TTY_DIR")), m_dev(qgetenv("KALVOSAN_DEV_DIR")) {
        qputenv("KALVOSAN_SYSFS_TTY_DIR", QFile::encodeName(tree.sys()));
        qputenv("KALVOSAN_DEV_DIR", QFile::encodeName(tree.dev()));
    }
    ~TreeInUse() {
        qputenv("KALVOSAN_SYSFS_TTY_DIR", m_sys);
        qputenv("KALVOSAN_DEV_DIR", m_dev);
    }
    TreeInUse(const TreeInUse &) = delete;
    TreeInUse &operator=(const TreeInUse &) = delete;

private:
    QByteArray m_sys;
    QByteArray m_dev;
};

// The devices of a debugging bench: two identical FTDI adapters (same ids, different serials),
// a Pico on cdc_acm and a 16550 on the platform bus, and a ttyS1 without a UART. nodes are
// what /dev/ttyUSB0, ttyUSB1, ttyACM0 and ttyS0 link to (ptys).
inline bool addBench(FakeSysfs &tree, const QStringList &nodes) {
    UsbAdapter ftdi{QStringLiteral("0403"), QStringLiteral("6001"), QStringLiteral("FTDI"),
                    QStringLiteral("FT232R USB UART"), QStringLiteral("A50285BI")};
    UsbAdapter twin = ftdi;
    twin.serial = QStringLiteral("A50285BJ");
    UsbAdapter pico{QStringLiteral("2e8a"),
                    QStringLiteral("000a"),
                    QStringLiteral("Raspberry Pi"),
                    QStringLiteral("Pico"),
                    QStringLiteral("E6614C311B4A8B2C"),
                    QStringLiteral("cdc_acm")};
    pico.acm = true;
    const QString byId = QStringLiteral("by-id");
    const QString byPath = QStringLiteral("by-path");
    return nodes.size() == 4 && tree.usbTty(QStringLiteral("ttyUSB0"), ftdi, 1) &&
           tree.usbTty(QStringLiteral("ttyUSB1"), twin, 2) &&
           tree.usbTty(QStringLiteral("ttyACM0"), pico, 3) &&
           tree.platformUart(QStringLiteral("ttyS0"), QStringLiteral("serial8250"), 4) &&
           tree.platformUart(QStringLiteral("ttyS1"), QStringLiteral("serial8250"), 0) &&
           tree.node(QStringLiteral("ttyUSB0"), nodes[0]) &&
           tree.node(QStringLiteral("ttyUSB1"), nodes[1]) &&
           tree.node(QStringLiteral("ttyACM0"), nodes[2]) &&
           tree.node(QStringLiteral("ttyS0"), nodes[3]) &&
           tree.stableLink(byId, QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"),
                           QStringLiteral("ttyUSB0")) &&
           tree.stableLink(byId, QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BJ-if00-port0"),
                           QStringLiteral("ttyUSB1")) &&
           tree.stableLink(byId, QStringLiteral("usb-Raspberry_Pi_Pico_E6614C311B4A8B2C-if00"),
                           QStringLiteral("ttyACM0")) &&
           tree.stableLink(byPath, QStringLiteral("pci-0000:00:14.0-usb-0:1:1.0-port0"),
                           QStringLiteral("ttyUSB0")) &&
           tree.stableLink(byPath, QStringLiteral("pci-0000:00:14.0-usb-0:2:1.0-port0"),
                           QStringLiteral("ttyUSB1")) &&
           tree.stableLink(byPath, QStringLiteral("pci-0000:00:14.0-usb-0:3:1.0"),
                           QStringLiteral("ttyACM0"));
}

} // namespace testsupport
