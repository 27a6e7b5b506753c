#include "serial/device_list.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace serial {

namespace {

// More than any attribute read here holds: a USB string has at most 126 characters.
constexpr int kAttributeLimit = 512;
// From a tty's device up to its USB device: the tty's own node (a USB serial converter's
// port), the interface, the device.
constexpr int kLevelsUp = 3;

// As the kernel wrote it, trimmed; a control character (an escape sequence a device put into
// its product name would otherwise reach the terminal) becomes '?'.
QString printable(const QString &raw) {
    QString text = raw.trimmed();
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = u'?';
    }
    return text;
}

// A sysfs attribute: a small regular file, read once up to the bound. Nothing else at the name
// is opened: a device node there would be a tty opened, a FIFO would block.
QString attribute(const QString &dir, const char *name) {
    const QByteArray file = QFile::encodeName(dir + u'/' + QLatin1StringView(name));
    struct stat st {};
    if (::stat(file.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    const int fd = ::open(file.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return {};
    char buffer[kAttributeLimit];
    ssize_t n = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    return n > 0 ? printable(QString::fromUtf8(buffer, n)) : QString();
}

// Links resolved, through chains too; empty for a dangling link or a loop.
QString resolved(const QString &path) {
    return QFileInfo(path).canonicalFilePath();
}

// Stable name by the device it resolves to, for the whole listing at once.
using LinkMap = QHash<QString, QStringList>;

LinkMap stableLinks(const QString &devRoot) {
    LinkMap byDevice;
    for (const char *folder : {"by-id", "by-path"}) {
        const QString dir = devRoot + QStringLiteral("/serial/") + QLatin1StringView(folder);
        QStringList names = QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::Hidden |
                                                QDir::NoDotAndDotDot);
        std::sort(names.begin(), names.end(), naturalLess);
        for (const QString &name : names) {
            const QString link = dir + u'/' + name;
            const QString device = resolved(link);
            if (!device.isEmpty())
                byDevice[device] << link;
        }
    }
    return byDevice;
}

// The USB device above a tty's device: the ids and strings of the first folder up that has an
// idVendor, and the interface number met on the way.
void readUsb(QString dir, DeviceInfo &info) {
    std::optional<int> interfaceNumber;
    for (int level = 0; level < kLevelsUp && dir.size() > 1; ++level) {
        bool ok = false;
        const int number = attribute(dir, "bInterfaceNumber").toInt(&ok, 16);
        if (ok && !interfaceNumber)
            interfaceNumber = number;
        const QString vid = attribute(dir, "idVendor");
        if (!vid.isEmpty()) {
            info.vid = vid;
            info.pid = attribute(dir, "idProduct");
            info.manufacturer = attribute(dir, "manufacturer");
            info.product = attribute(dir, "product");
            info.serial = attribute(dir, "serial");
            info.interfaceNumber = interfaceNumber;
            return;
        }
        dir = QFileInfo(dir).path();
    }
}

// The last component of a sysfs link's target: a driver's or a bus's name.
QString linkName(const QString &link) {
    return printable(QFileInfo(QFileInfo(link).symLinkTarget()).fileName());
}

// Since Linux 6.5 a UART's tty hangs below the serial core's own port and controller devices
// (bus serial-base, drivers "port" and "ctrl"): the driver that says what the UART is sits on
// the device above them.
QString driverOf(QString device) {
    for (int level = 0; level < kLevelsUp; ++level) {
        if (linkName(device + QStringLiteral("/subsystem")) != QLatin1StringView("serial-base"))
            break;
        device = QFileInfo(device).path();
    }
    return linkName(device + QStringLiteral("/driver"));
}

DeviceInfo readDevice(const QString &sysClassTty, const QString &devRoot, const QString &name,
                      const LinkMap &links) {
    DeviceInfo info;
    info.name = name;
    info.path = devRoot + u'/' + name;
    info.com = comName(name);
    info.links = links.value(resolved(info.path));
    const QString device = resolved(sysClassTty + u'/' + name + QStringLiteral("/device"));
    if (device.isEmpty())
        return info;
    info.driver = driverOf(device);
    readUsb(device, info);
    return info;
}

} // namespace

QList<DeviceInfo> listDevices(const QString &sysClassTty, const QString &devRoot) {
    const LinkMap links = stableLinks(devRoot);
    QList<DeviceInfo> devices;
    for (const QString &name : ttysWithDevice(sysClassTty)) {
        if (attribute(sysClassTty + u'/' + name, "type") == u'0')
            continue;
        devices << readDevice(sysClassTty, devRoot, name, links);
    }
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
    const QString name = device.links.value(0, device.path);
    return what.isEmpty() ? name : what + QStringLiteral(" - ") + name;
}

QString describePort(const QString &portName, const QList<DeviceInfo> &devices,
                     const QString &devRoot) {
    const QString path = devicePath(portName, devRoot);
    for (const DeviceInfo &device : devices) {
        if (device.path == path || device.links.contains(path))
            return describeDevice(device);
    }
    return path;
}

} // namespace serial
