// A sysfs and a /dev of a test's (or a benchmark's) own, laid out as the kernel and udev lay
// them out: /sys/class/tty/<name> with a device link into /sys/devices, subsystem and driver
// links there, a USB adapter's attributes on its interface and device folders; /dev/<name>
// and the stable links in /dev/serial/by-id and by-path. The window and kalvosan-cli read
// their roots from KALVOSAN_SYSFS_TTY_DIR and KALVOSAN_DEV_DIR. QtCore only.
#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

namespace testsupport {

struct UsbAdapter {
    QString vid, pid, manufacturer, product, serial;
    QString driver = "ftdi_sio";
    bool acm = false; // the tty's device is the interface itself, as with cdc_acm
};

class FakeSysfs {
public:
    FakeSysfs() {
        for (const char *dir : {"sys/class/tty", "dev/serial/by-id", "dev/serial/by-path"})
            QDir(m_root.path()).mkpath(dir);
    }

    QString sys() const { return m_root.filePath("sys/class/tty"); }
    QString dev() const { return m_root.filePath("dev"); }

    // A tty the kernel lists, with a device folder behind it or without one (a virtual console).
    bool kernelLists(const QString &name, bool withDevice) {
        return QDir(sys()).mkpath(withDevice ? name + "/device" : name);
    }

    // A UART on the platform bus; `type` is the serial core's (0: no UART at that address).
    // As since Linux 6.5, the tty's device is the serial core's port below its controller.
    bool platformUart(const QString &name, const QString &driver, int type) {
        const QString device = m_root.filePath("sys/devices/platform/" + driver);
        const QString controller = device + '/' + driver + ":0";
        const QString port = controller + '/' + driver + ":0." + name;
        return QDir().mkpath(port) && ttyOn(name, port) && onBus(device, "platform", driver) &&
               onBus(controller, "serial-base", "ctrl") && onBus(port, "serial-base", "port") &&
               write(sys() + '/' + name + "/type", QString::number(type));
    }

    // A USB adapter's tty (interface 0), on port `port` of the first bus.
    bool usbTty(const QString &name, const UsbAdapter &usb, int port) {
        const QString device =
            m_root.filePath(QString("sys/devices/pci0000:00/0000:00:14.0/usb1/1-%1").arg(port));
        const QString interface = device + QString("/1-%1:1.0").arg(port);
        const QString tty = usb.acm ? interface : interface + '/' + name;
        const std::pair<const char *, QString> attributes[] = {{"idVendor", usb.vid},
                                                               {"idProduct", usb.pid},
                                                               {"manufacturer", usb.manufacturer},
                                                               {"product", usb.product},
                                                               {"serial", usb.serial}};
        bool made = QDir().mkpath(tty) && write(interface + "/bInterfaceNumber", "00") &&
                    ttyOn(name, tty) && onBus(tty, usb.acm ? "usb" : "usb-serial", usb.driver);
        for (const auto &[attribute, value] : attributes)
            made = made && write(device + '/' + attribute, value);
        return made;
    }

    // <dev>/<name>: a link to the device node (a pty's), or a plain file where target is empty.
    bool node(const QString &name, const QString &target) {
        const QString path = dev() + '/' + name;
        return target.isEmpty() ? write(path, {}) : QFile::link(target, path);
    }

    // <dev>/serial/<kind>/<link> pointing at ../../<name>, as udev makes it.
    bool stableLink(const QString &kind, const QString &link, const QString &name) {
        return QFile::link("../../" + name, dev() + "/serial/" + kind + '/' + link);
    }

    // Points a program started with this environment at the tree.
    void addTo(QProcessEnvironment &environment) const {
        environment.insert("KALVOSAN_SYSFS_TTY_DIR", sys());
        environment.insert("KALVOSAN_DEV_DIR", dev());
    }

    static bool write(const QString &path, const QString &text) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8() + '\n') >= 0;
    }

private:
    bool ttyOn(const QString &name, const QString &device) {
        return QDir(sys()).mkpath(name) && QFile::link(device, sys() + '/' + name + "/device");
    }
    // The device's subsystem and driver links; a device with several ports gets them once.
    bool onBus(const QString &device, const QString &bus, const QString &driver) {
        const QString busPath = m_root.filePath("sys/bus/" + bus);
        return QDir().mkpath(busPath + "/drivers/" + driver) &&
               link(busPath, device + "/subsystem") &&
               link(busPath + "/drivers/" + driver, device + "/driver");
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
    QByteArray m_sys, m_dev;
};

inline const QString kFirstFtdi = "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
inline const QString kSecondFtdi = "usb-FTDI_FT232R_USB_UART_A50285BJ-if00-port0";

// The devices of a debugging bench: two identical FTDI adapters (same ids, different serials),
// a Pico on cdc_acm, a 16550 on the platform bus and a ttyS1 without a UART. nodes are what
// /dev/ttyUSB0, ttyUSB1, ttyACM0 and ttyS0 link to (ptys).
inline bool addBench(FakeSysfs &tree, const QStringList &nodes) {
    const UsbAdapter ftdi{"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI"};
    UsbAdapter twin = ftdi;
    twin.serial = "A50285BJ";
    const UsbAdapter pico{"2e8a",    "000a", "Raspberry Pi", "Pico", "E6614C311B4A8B2C",
                          "cdc_acm", true};
    const QStringList names{"ttyUSB0", "ttyUSB1", "ttyACM0", "ttyS0"};
    bool made = nodes.size() == names.size() && tree.usbTty("ttyUSB0", ftdi, 1) &&
                tree.usbTty("ttyUSB1", twin, 2) && tree.usbTty("ttyACM0", pico, 3) &&
                tree.platformUart("ttyS0", "serial8250", 4) &&
                tree.platformUart("ttyS1", "serial8250", 0) &&
                tree.stableLink("by-id", kFirstFtdi, "ttyUSB0") &&
                tree.stableLink("by-id", kSecondFtdi, "ttyUSB1") &&
                tree.stableLink("by-id", "usb-Raspberry_Pi_Pico_E6614C311B4A8B2C-if00", "ttyACM0");
    for (int i = 0; made && i < names.size(); ++i) {
        made = tree.node(names[i], nodes[i]) &&
               (i == 3 ||
                tree.stableLink("by-path", QString("pci-0000:00:14.0-usb-0:%1:1.0").arg(i + 1),
                                names[i]));
    }
    return made;
}

} // namespace testsupport
