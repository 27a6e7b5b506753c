#include "serial/port_names.h"

#include "serial/serial_port.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <limits>
#include <optional>

namespace serial {

namespace {

constexpr int kProbedComPorts = 40;

bool isAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// The digits of "<prefix><digits>", if the name is exactly that.
std::optional<QStringView> digitsAfter(const QString &name, QLatin1StringView prefix,
                                       Qt::CaseSensitivity cs = Qt::CaseSensitive) {
    if (!name.startsWith(prefix, cs) || name.size() == prefix.size())
        return std::nullopt;
    const QStringView digits = QStringView(name).mid(prefix.size());
    if (!std::all_of(digits.begin(), digits.end(), isAsciiDigit))
        return std::nullopt;
    return digits;
}

// The n of "COMn" ("com3" as well, as Windows takes it): a plain decimal number from 1, without
// leading zeros.
std::optional<uint> comNumber(const QString &name) {
    const auto digits = digitsAfter(name, QLatin1StringView("COM"), Qt::CaseInsensitive);
    if (!digits || digits->front() == u'0')
        return std::nullopt;
    bool ok = false;
    const uint n = digits->toUInt(&ok);
    return ok ? std::optional<uint>(n) : std::nullopt;
}

qsizetype digitRunEnd(const QString &s, qsizetype from) {
    while (from < s.size() && isAsciiDigit(s[from]))
        ++from;
    return from;
}

// Compares two digit runs by value, without converting them (they may be arbitrarily long).
int compareNumbers(QStringView a, QStringView b) {
    while (a.size() > 1 && a.front() == u'0')
        a = a.mid(1);
    while (b.size() > 1 && b.front() == u'0')
        b = b.mid(1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

QString directoryFromEnvironment(const char *variable, const char *fallback) {
    const QString chosen = qEnvironmentVariable(variable);
    return chosen.isEmpty() ? QString::fromLatin1(fallback) : chosen;
}

} // namespace

QString deviceDirectory() {
    return directoryFromEnvironment("KALVOSAN_DEV_DIR", "/dev");
}

QString sysfsTtyDirectory() {
    return directoryFromEnvironment("KALVOSAN_SYSFS_TTY_DIR", "/sys/class/tty");
}

QString devicePath(const QString &portName, const QString &devRoot) {
    if (portName.isEmpty() || portName.startsWith(u'/'))
        return portName;
    if (const auto n = comNumber(portName))
        return devRoot + QStringLiteral("/ttyS") + QString::number(*n - 1);
    return devRoot + u'/' + portName;
}

QString comName(const QString &deviceName) {
    const auto digits = digitsAfter(deviceName, QLatin1StringView("ttyS"));
    if (!digits || (digits->size() > 1 && digits->front() == u'0'))
        return {};
    bool ok = false;
    const uint n = digits->toUInt(&ok);
    return ok && n < std::numeric_limits<uint>::max() ? QStringLiteral("COM%1").arg(n + 1)
                                                      : QString();
}

QString printableText(const QString &raw) {
    QString text = raw.trimmed();
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = u'?';
    }
    return text;
}

QString elided(const QString &text, qsizetype most) {
    if (text.size() <= most)
        return text;
    return text.left(std::max<qsizetype>(most - 3, 0)) + QStringLiteral("...");
}

bool naturalLess(const QString &a, const QString &b) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (isAsciiDigit(a[i]) && isAsciiDigit(b[j])) {
            const qsizetype endA = digitRunEnd(a, i);
            const qsizetype endB = digitRunEnd(b, j);
            const int c =
                compareNumbers(QStringView(a).mid(i, endA - i), QStringView(b).mid(j, endB - j));
            if (c != 0)
                return c < 0;
            i = endA;
            j = endB;
        } else if (a[i] != b[j]) {
            return a[i] < b[j];
        } else {
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

QStringList ttysWithDevice(const QString &sysClassTty) {
    const QDir dir(sysClassTty);
    QStringList found;
    for (const QString &name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (QFileInfo::exists(dir.filePath(name + QStringLiteral("/device"))))
            found << name;
    }
    std::sort(found.begin(), found.end(), naturalLess);
    return found;
}

QStringList kernelSerialDevices(const QString &sysClassTty) {
    QStringList found = ttysWithDevice(sysClassTty);
    found.removeIf([](const QString &name) {
        return digitsAfter(name, QLatin1StringView("ttyS")).has_value();
    });
    return found;
}

QStringList scanCandidates(const QString &sysClassTty) {
    QStringList names;
    for (int n = 1; n <= kProbedComPorts; ++n)
        names << QStringLiteral("COM%1").arg(n);
    return names + kernelSerialDevices(sysClassTty);
}

QStringList openablePorts(const QString &sysClassTty, const QString &devRoot,
                          const QStringList &lockDirs) {
    QStringList openable;
    for (const QString &name : scanCandidates(sysClassTty)) {
        if (probeDevice(devicePath(name, devRoot), lockDirs))
            openable << name;
    }
    return openable;
}

} // namespace serial
