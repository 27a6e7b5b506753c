// From the names the user sees ("COM1", "ttyUSB0", "/dev/pts/3") to device paths, and the
// port scan. The roots are parameters so that tests can use a tree of their own; the defaults
// come from the environment, so that a test program points the window and kalvosan-cli at its
// own tree as well (and never at the machine's ports, whose first is often the console).
#pragma once

#include "serial/uucp_lock.h"

#include <QString>
#include <QStringList>

namespace serial {

// KALVOSAN_DEV_DIR when set, otherwise /dev.
QString deviceDirectory();
// KALVOSAN_SYSFS_TTY_DIR when set, otherwise /sys/class/tty.
QString sysfsTtyDirectory();

// "/..." is a path as it stands; "COMn" in any letter case (n from 1) is <devRoot>/ttyS<n-1>; any
// other name is looked up in devRoot. An empty name gives an empty path, which no open accepts.
QString devicePath(const QString &portName, const QString &devRoot = deviceDirectory());

// The COM name of a kernel device name: ttyS0 is COM1; empty for any other name.
QString comName(const QString &deviceName);

// Outside text (a device's name or product string, a server's message) fit for a terminal:
// trimmed, a control character (an escape sequence, a newline) replaced by '?'.
QString printableText(const QString &raw);
// At most `most` characters of the text, the cut marked with "...": a hostile name must not
// turn a message into pages.
QString elided(const QString &text, qsizetype most);

// Orders digit runs by their value: ttyUSB2 before ttyUSB10.
bool naturalLess(const QString &a, const QString &b);

// The ttys the kernel lists with a device behind them (virtual consoles and pseudo-terminals
// have none), sorted naturally.
QStringList ttysWithDevice(const QString &sysClassTty = sysfsTtyDirectory());

// ttysWithDevice except the ttyS ones, which are probed as COM1 to COM40.
QStringList kernelSerialDevices(const QString &sysClassTty = sysfsTtyDirectory());

// The names a scan probes: COM1 to COM40 in order, then kernelSerialDevices.
QStringList scanCandidates(const QString &sysClassTty = sysfsTtyDirectory());

// The candidates nobody holds right now (see probeDevice); each is closed again at once.
QStringList openablePorts(const QString &sysClassTty = sysfsTtyDirectory(),
                          const QString &devRoot = deviceDirectory(),
                          const QStringList &lockDirs = lockDirectories());

} // namespace serial
