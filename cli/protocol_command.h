// Transfers by XMODEM, YMODEM and ZMODEM from the command line: send --protocol and receive.
#pragma once

#include "cli/command_line.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>

namespace cli {

// --protocol and --start-timeout, for send and receive.
QList<QCommandLineOption> protocolOptions(const QString &protocols);
// send PORT FILE... --protocol P: the parsed command line of send.
int runProtocolSend(const CommandLine &line);

} // namespace cli
