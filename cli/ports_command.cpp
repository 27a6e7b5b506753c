// kalvosan-cli ports
#include "cli/command_line.h"
#include "cli/commands.h"
#include "serial/port_names.h"

#include <cstdio>

namespace cli {

int runPorts(const QStringList &arguments) {
    CommandLine line(QStringLiteral("ports"),
                     QStringLiteral("Lists the serial ports that exist and that no other "
                                    "program holds, one per line, as the window's Scan does."));
    if (const auto code = line.parse(arguments))
        return *code;
    for (const QString &port : serial::openablePorts())
        std::printf("%s\n", qPrintable(port));
    return kExitSuccess;
}

} // namespace cli
