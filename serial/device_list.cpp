#include "serial/device_list.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace serial {

namespace {

// More than any attribute read here holds: a USB string has at most 126 characters.
constexpr int kAttributeLimit = 512;
// From a UART's tty device up past the serial core's port and controller to the UART's own.
constexpr int kLevelsUp = 3;
constexpr QLatin1StringView kSerialBase("serial-base");

// The target of the symbolic link `name` in the folder dirFd; empty for anything else.
QString linkTarget(int dirFd, const char *name) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlinkat(dirFd, name, buffer, sizeof buffer);
    return n > 0 && n < ssize_t(sizeof buffer) ? QFile::decodeName(QByteArray(buffer, n))
                                               : QString();
}

// A sysfs folder, held as a path only (O_PATH opens nothing on a device). Its attributes and
// links are looked up by paths relative to it ("ttyUSB0/device/../idVendor"), which the kernel
// resolves in one call each, following the links on the way and stopping a loop with ELOOP,
// where resolving them here would cost a call per component.
class SysfsDir {
public:
    SysfsDir(int parentFd, const QByteArray &path)
        : m_fd(::openat(parentFd, path.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC)) {}
    ~SysfsDir() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    SysfsDir(const SysfsDir &) = delete;
    SysfsDir &operator=(const SysfsDir &) = delete;

    int fd() const { return m_fd; }

    // An attribute: a small file, read once up to the bound. A link at the name is not
    // followed (one to a tty would open the port and raise its DTR), a FIFO does not block the
    // open or the read; sysfs has nothing else, so no look before the open costs a call more.
    QString attribute(const QByteArray &path) const {
        const int fd = ::openat(m_fd, path.constData(),
                                O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return {};
        char buffer[kAttributeLimit];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        ::close(fd);
        return n > 0 ? printableText(QString::fromUtf8(buffer, n)) : QString();
    }

    // The last component of a link's target: a driver's or a bus's name.
    QString linkName(const QByteArray &path) const {
        const QString target = linkTarget(m_fd, path.constData());
        return printableText(target.mid(target.lastIndexOf(u'/') + 1));
    }

private:
    int m_fd;
};

// Since Linux 6.5 a UART's tty hangs below the serial core's own port and controller devices
// (bus serial-base, drivers "port" and "ctrl"): the driver that says what the UART is sits on
// the device above them.
QString driverAbove(const SysfsDir &classDir, QByteArray device) {
    for (int level = 1; level < kLevelsUp; ++level) {
        device += "/..";
        if (classDir.linkName(device + "/subsystem") != kSerialBase)
            return classDir.linkName(device + "/driver");
    }
    return {};
}

bool isUsb(const QString &subsystem) {
    return subsystem == QLatin1StringView("usb-serial") || subsystem == QLatin1StringView("usb");
}

// The interface number, ids and strings of the USB device behind a tty's device. A USB serial
// converter's tty device is its port, below the interface; an ACM tty's device is the
// interface itself. Either way the USB device is the interface's parent.
void readUsb(const SysfsDir &classDir, const QByteArray &device, const QString &subsystem,
             DeviceInfo &info) {
    if (!isUsb(subsystem))
        return;
    QByteArray interface = device;
    if (subsystem == QLatin1StringView("usb-serial"))
        interface += "/..";
    const QByteArray usb = interface + "/../";
    info.vid = classDir.attribute(usb + "idVendor");
    if (info.vid.isEmpty())
        return;
    info.pid = classDir.attribute(usb + "idProduct");
    info.manufacturer = classDir.attribute(usb + "manufacturer");
    info.product = classDir.attribute(usb + "product");
    info.serial = classDir.attribute(usb + "serial");
    bool ok = false;
    const int number = classDir.attribute(interface + "/bInterfaceNumber").toInt(&ok, 16);
    if (ok)
        info.interfaceNumber = number;
}

// The device of the tty `name` in the class folder, unless the serial core says there is no
// UART there (type 0: most of ttyS0 to ttyS31; a USB tty has no type).
std::optional<DeviceInfo> readDevice(const SysfsDir &classDir, const QString &devRoot,
                                     const QString &name) {
    const QByteArray tty = QFile::encodeName(name);
    const QByteArray device = tty + "/device";
    const QString subsystem = classDir.linkName(device + "/subsystem");
    if (!isUsb(subsystem) && classDir.attribute(tty + "/type") == u'0')
        return std::nullopt;
    DeviceInfo info;
    info.name = name;
    info.path = devRoot + u'/' + name;
    info.com = comName(name);
    info.driver = subsystem == kSerialBase ? driverAbove(classDir, device)
                                           : classDir.linkName(device + "/driver");
    readUsb(classDir, device, subsystem, info);
    return info;
}

struct StableLink {
    QString path;
    QString target; // the link's target as a clean path, not resolved further
};

// <devRoot>/serial/by-id, then by-path, each in natural order: read once for the whole
// listing, one readlink each.
QList<StableLink> stableLinks(const QString &devRoot) {
    QList<StableLink> links;
    for (const char *folder : {"by-id", "by-path"}) {
        const QString dir = devRoot + QStringLiteral("/serial/") + QLatin1StringView(folder);
        QStringList names = QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::Hidden |
                                                QDir::NoDotAndDotDot);
        std::sort(names.begin(), names.end(), naturalLess);
        for (const QString &name : names) {
            const QString path = dir + u'/' + name;
            const QString target = linkTarget(AT_FDCWD, QFile::encodeName(path).constData());
            if (!target.isEmpty())
                links.append({path, QDir::cleanPath(
                                        target.startsWith(u'/') ? target : dir + u'/' + target)});
        }
    }
    return links;
}

// Gives each device the stable links that lead to it. udev's links name the device itself
// (../../ttyUSB0), found by their target; any other (a chain of links, a target reached
// through other names) by resolving both sides, which is only done for those.
void attachLinks(QList<DeviceInfo> &devices, const QList<StableLink> &links) {
    QHash<QString, qsizetype> byPath;
    for (qsizetype i = 0; i < devices.size(); ++i)
        byPath.insert(QDir::cleanPath(devices[i].path), i);
    QHash<QString, qsizetype> byResolvedPath;
    bool resolvedPaths = false;
    for (const StableLink &link : links) {
        qsizetype owner = byPath.value(link.target, -1);
        if (owner < 0 && !resolvedPaths) {
            for (qsizetype i = 0; i < devices.size(); ++i)
                byResolvedPath.insert(QFileInfo(devices[i].path).canonicalFilePath(), i);
            byResolvedPath.remove(QString());
            resolvedPaths = true;
        }
        if (owner < 0)
            owner = byResolvedPath.value(QFileInfo(link.path).canonicalFilePath(), -1);
        if (owner >= 0)
            devices[owner].links << link.path;
    }
}

} // namespace

QList<DeviceInfo> listDevices(const QString &sysClassTty, const QString &devRoot) {
    const SysfsDir classDir(AT_FDCWD, QFile::encodeName(sysClassTty));
    QList<DeviceInfo> devices;
    for (const QString &name : ttysWithDevice(sysClassTty)) {
        if (auto device = readDevice(classDir, devRoot, name))
            devices << *device;
    }
    attachLinks(devices, stableLinks(devRoot));
    return devices;
}

QString describeDevice(const DeviceInfo &device) {
    QStringList names;
    for (const QString &text : {device.product, device.manufacturer}) {
        if (!text.isEmpty())
            names << text;
    }
    QString what = names.isEmpty() ? device.driver : names.join(QStringLiteral(" - "));
    QStringList ids;
    if (!device.vid.isEmpty())
        ids << device.vid + u':' + device.pid;
    if (!device.serial.isEmpty())
        ids << QStringLiteral("serial ") + device.serial;
    if (device.interfaceNumber.value_or(0) > 0)
        ids << QStringLiteral("interface %1").arg(*device.interfaceNumber);
    if (!ids.isEmpty())
        what += QStringLiteral(" (") + ids.join(QStringLiteral(", ")) + u')';
    const QString name = printableText(device.links.value(0, device.path));
    return what.isEmpty() ? name : what + QStringLiteral(" - ") + name;
}

QString describePort(const QString &portName, const QList<DeviceInfo> &devices,
                     const QString &devRoot) {
    const QString path = devicePath(portName, devRoot);
    for (const DeviceInfo &device : devices) {
        if (device.path == path)
            return describeDevice(device);
    }
    return path;
}

} // namespace serial
