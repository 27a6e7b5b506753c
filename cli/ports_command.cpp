// kalvosan-cli ports [--long | --json | --names]
#include "cli/command_line.h"
#include "cli/commands.h"
#include "serial/device_list.h"
#include "serial/open_failure.h"
#include "serial/port_names.h"
#include "serial/uucp_lock.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace cli {

namespace {

QList<QCommandLineOption> portsOptions() {
    return {
        {QStringLiteral("long"),
         QStringLiteral("Lists every serial device the kernel knows, from sysfs and without "
                        "opening any: its path and COM name, the driver, a USB adapter's ids, "
                        "strings and interface, the stable links and a lock file's holder.")},
        {QStringLiteral("json"),
         QStringLiteral("The same as one JSON array of objects with the keys path, com, links, "
                        "driver, vid, pid, manufacturer, product, serial, interface and "
                        "lockedBy; what a device lacks is null.")},
        {QStringLiteral("names"),
         QStringLiteral("Every name a listed device can be given (COM name, name, path, stable "
                        "links), one per line, without opening any port.")},
    };
}

struct Listed {
    serial::DeviceInfo device;
    std::optional<serial::LockHolder> lock;
};

QList<Listed> listWithLocks() {
    const QStringList lockDirs = serial::lockDirectories();
    QList<Listed> listed;
    for (const serial::DeviceInfo &device : serial::listDevices())
        listed.append({device, serial::lockHolder(device.path, lockDirs)});
    return listed;
}

QString lockText(const serial::LockHolder &lock) {
    const QString who = lock.pid > 0 ? QStringLiteral("PID %1").arg(lock.pid)
                                     : QStringLiteral("a lock file that names no process");
    return who + QStringLiteral(" (") + lock.file + u')';
}

QString longBlock(const Listed &entry) {
    const serial::DeviceInfo &d = entry.device;
    // Names are outside input as the product strings are: cleaned for the terminal.
    QString block = serial::printableText(d.path);
    if (!d.com.isEmpty())
        block += QStringLiteral(" (") + d.com + u')';
    const auto field = [&block](const char *label, const QString &value) {
        if (!value.isEmpty())
            block += QStringLiteral("\n  %1 %2").arg(QLatin1StringView(label), -13).arg(value);
    };
    field("product", d.product);
    field("manufacturer", d.manufacturer);
    field("usb id", d.vid.isEmpty() ? QString() : d.vid + u':' + d.pid);
    field("serial", d.serial);
    field("interface", d.interfaceNumber ? QString::number(*d.interfaceNumber) : QString());
    field("driver", d.driver);
    for (const QString &link : d.links)
        field("link", serial::printableText(link));
    field("locked by", entry.lock ? serial::printableText(lockText(*entry.lock)) : QString());
    return block + u'\n';
}

QJsonValue textOrNull(const QString &text) {
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonObject jsonObject(const Listed &entry) {
    const serial::DeviceInfo &d = entry.device;
    return {
        {QStringLiteral("path"), d.path},
        {QStringLiteral("com"), textOrNull(d.com)},
        {QStringLiteral("links"), QJsonArray::fromStringList(d.links)},
        {QStringLiteral("driver"), textOrNull(d.driver)},
        {QStringLiteral("vid"), textOrNull(d.vid)},
        {QStringLiteral("pid"), textOrNull(d.pid)},
        {QStringLiteral("manufacturer"), textOrNull(d.manufacturer)},
        {QStringLiteral("product"), textOrNull(d.product)},
        {QStringLiteral("serial"), textOrNull(d.serial)},
        {QStringLiteral("interface"),
         d.interfaceNumber ? QJsonValue(*d.interfaceNumber) : QJsonValue()},
        {QStringLiteral("lockedBy"), entry.lock ? QJsonValue(entry.lock->pid) : QJsonValue()},
    };
}

void printLong() {
    QStringList blocks;
    for (const Listed &entry : listWithLocks())
        blocks << longBlock(entry);
    std::fputs(blocks.join(u'\n').toLocal8Bit().constData(), stdout);
}

void printJson() {
    QJsonArray array;
    for (const Listed &entry : listWithLocks())
        array.append(jsonObject(entry));
    std::fputs(QJsonDocument(array).toJson(QJsonDocument::Indented).constData(), stdout);
}

void printNames() {
    for (const serial::DeviceInfo &d : serial::listDevices()) {
        for (const QString &name : QStringList{d.com, d.name, d.path} + d.links) {
            // A newline in a name would make two names of it, an escape reach the terminal.
            if (!name.isEmpty())
                std::printf("%s\n", serial::printableText(name).toLocal8Bit().constData());
        }
    }
}

// The ports that can be opened now. A device this user may not open is said so, with who may:
// a list that is empty for want of a group must not look like a machine without ports.
void printOpenable() {
    for (const QString &port : serial::openablePorts())
        std::printf("%s\n", qPrintable(serial::printableText(port)));
    for (const serial::DeviceInfo &device : serial::listDevices()) {
        if (const QString problem = serial::accessProblem(device.path); !problem.isEmpty())
            printWarning(device.path + QStringLiteral(": ") + problem);
    }
}

} // namespace

int runPorts(const QStringList &arguments) {
    CommandLine line(QStringLiteral("ports"),
                     QStringLiteral("Lists the serial ports that exist and that no other "
                                    "program holds, one per line, as the window's Scan does "
                                    "(which opens each free port for a moment). With --long, "
                                    "--json or --names: every serial device the kernel knows, "
                                    "read from sysfs without opening any."));
    line.addOptions(portsOptions());
    if (const auto code = line.parse(arguments))
        return *code;
    const QStringList modes{QStringLiteral("long"), QStringLiteral("json"),
                            QStringLiteral("names")};
    const auto chosen = std::count_if(modes.begin(), modes.end(),
                                      [&line](const QString &mode) { return line.isSet(mode); });
    if (chosen > 1)
        return line.usageError(QStringLiteral("Give one of --long, --json and --names"));
    if (line.isSet(modes[0]))
        printLong();
    else if (line.isSet(modes[1]))
        printJson();
    else if (line.isSet(modes[2]))
        printNames();
    else
        printOpenable();
    return kExitSuccess;
}

} // namespace cli
