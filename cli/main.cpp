// kalvosan-cli: what the window does, from a shell and without a display. The program's own
// options (--help, --version, -q) come before the command; everything after the command's name
// is the command's (-q too).
#include "cli/command_line.h"
#include "cli/commands.h"
#include "platform/files.h"
#include "platform/streams.h"
#include "res/product.h"

#include <QCoreApplication>

#include <cerrno>
#include <csignal>
#include <cstdio>

namespace {

struct Command {
    const char *name;
    int (*run)(const QStringList &arguments);
};

constexpr Command kCommands[] = {
    {"ports", cli::runPorts}, {"capture", cli::runCapture}, {"monitor", cli::runMonitor},
    {"send", cli::runSend},   {"hex", cli::runHex},         {"term", cli::runTerm},
};

void describe(QCommandLineParser &parser) {
    parser.setApplicationDescription(
        QStringLiteral("Captures from and sends to serial devices, with the settings of the "
                       "Kalvosan window.\n\nCommands:\n"
                       "  ports     lists the serial ports that can be opened; with --long or\n"
                       "            --json every serial device the kernel knows, opening none\n"
                       "  capture   captures what a device sends into a numbered file\n"
                       "  monitor   shows what a device sends as hex lines, live\n"
                       "  send      sends a file, standard input or given bytes to a device\n"
                       "  hex       prints a file as the window's hex editor pane shows it\n"
                       "  term      a terminal: types to a device and shows what it answers\n\n"
                       "'kalvosan-cli COMMAND --help' describes a command."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(cli::quietOption());
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("One of the commands above, and its arguments."),
                                 QStringLiteral("COMMAND [ARGUMENTS...]"));
    // The command's arguments are left for the command's own parser.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
}

// What went to standard output must have reached it: a script reads it. A failure there turns
// a success into exit 1, with the reason; a command that failed has said why already.
int withOutputChecked(int exitCode) {
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (exitCode != cli::kExitSuccess || (flushed && !std::ferror(stdout)))
        return exitCode;
    cli::printError(QStringLiteral("Could not write standard output: ") +
                    platform::errorText(error != 0 ? error : EIO));
    return cli::kExitFailure;
}

int runProgram(const QStringList &arguments) {
    QCoreApplication::setApplicationName(cli::kProgramName);
    QCoreApplication::setApplicationVersion(QStringLiteral(KALVOSAN_VERSION));
    platform::ignoreFileSizeLimitSignal();
    // Output to a pipe or terminal that has gone fails instead of killing the program before a
    // transfer has released its port and stored its name.
    std::signal(SIGPIPE, SIG_IGN);
    QCommandLineParser parser;
    describe(parser);
    if (!parser.parse(arguments))
        return cli::usageError({}, parser.errorText());
    cli::setQuiet(parser.isSet(cli::quietOption()));
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("%s %s\n", qPrintable(cli::kProgramName), KALVOSAN_VERSION);
        return cli::kExitSuccess;
    }
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(qPrintable(cli::helpText(parser, {})), stdout);
        return cli::kExitSuccess;
    }
    const QStringList words = parser.positionalArguments();
    if (words.isEmpty())
        return cli::usageError({}, QStringLiteral("No command given"));
    for (const Command &command : kCommands) {
        if (words.first() == QLatin1String(command.name))
            return command.run(words.mid(1));
    }
    return cli::usageError({}, QStringLiteral("Unknown command: ") + words.first());
}

} // namespace

int main(int argc, char **argv) {
    // Before Qt opens its first descriptor.
    platform::guardStandardDescriptors();
    QCoreApplication app(argc, argv);
    // The arguments as the bytes they are: Qt's own list has replaced what is not UTF-8.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << platform::decodeBytes(QByteArray(argv[i]));
    return withOutputChecked(runProgram(arguments));
}
