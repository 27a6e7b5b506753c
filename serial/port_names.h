// From the names the user sees ("COM1", "ttyUSB0", "/dev/pts/3") to device paths, and the
// port scan. The roots are parameters so that tests can use a tree of their own.
#pragma once

#include "serial/uucp_lock.h"

#include <QString>
#include <QStringList>

namespace serial {

inline const QString kDevRoot = QStringLiteral("/dev");
inline const QString kSysClassTty = QStringLiteral("/sys/class/tty");

// "/..." is a path as it stands; "COMn" in any letter case (n from 1) is <devRoot>/ttyS<n-1>; any
// other name is looked up in devRoot. An empty name gives an empty path, which no open accepts.
QString devicePath(const QString &portName, const QString &devRoot = kDevRoot);

// Orders digit runs by their value: ttyUSB2 before ttyUSB10.
bool naturalLess(const QString &a, const QString &b);

// The serial devices the kernel lists with a device behind them, except the ttyS ones (those
// are probed as COM1 to COM40), sorted naturally.
QStringList kernelSerialDevices(const QString &sysClassTty = kSysClassTty);

// The names a scan probes: COM1 to COM40 in order, then kernelSerialDevices.
QStringList scanCandidates(const QString &sysClassTty = kSysClassTty);

// The candidates nobody holds right now (see probeDevice); each is closed again at once.
QStringList openablePorts(const QString &sysClassTty = kSysClassTty,
                          const QString &devRoot = kDevRoot,
                          const QStringList &lockDirs = lockDirectories());

} // namespace serial
