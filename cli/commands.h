// The commands of kalvosan-cli. Each takes the arguments after its name and returns the
// program's exit code.
#pragma once

#include <QStringList>

namespace cli {

int runPorts(const QStringList &arguments);
int runCapture(const QStringList &arguments);
int runMonitor(const QStringList &arguments);
int runSend(const QStringList &arguments);
int runReceive(const QStringList &arguments);
int runHex(const QStringList &arguments);
int runTerm(const QStringList &arguments);

} // namespace cli
