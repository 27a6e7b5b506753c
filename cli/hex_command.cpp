// kalvosan-cli hex FILE|- [--follow] [--times]
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/hex_printer.h"
#include "platform/files.h"
#include "platform/streams.h"
#include "platform/termination.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <unistd.h>

namespace cli {

namespace {

constexpr qint64 kReadSize = 1 << 16;
// How often a followed file is looked at: quick enough to feel live, never a spin.
constexpr int kFollowPollMs = 100;

enum class Listed { Done, ReadFailed, WriteFailed };

// Prints what `read` gives (a count, 0 at the end, less on a failure) until it ends.
template <class Read> Listed printAll(Read read, HexPrinter &printer) {
    QByteArray buffer(kReadSize, Qt::Uninitialized);
    for (;;) {
        const qint64 n = read(buffer.data());
        if (n <= 0)
            return n == 0 ? Listed::Done : Listed::ReadFailed;
        if (!printer.add(buffer.constData(), n))
            return Listed::WriteFailed;
    }
}

// Prints what the file holds beyond what was read.
Listed printAvailable(QFile &file, HexPrinter &printer) {
    return printAll([&file](char *buffer) { return file.read(buffer, kReadSize); }, printer);
}

// Prints standard input or a FIFO as it comes, until its writers have gone. A signal ends the
// program as it would end cat: there is nothing to complete.
Listed printStream(int fd, HexPrinter &printer) {
    static const std::atomic<bool> kAlways{true};
    return printAll(
        [fd](char *buffer) { return platform::readStream(fd, buffer, kReadSize, kAlways); },
        printer);
}

// Like tail -f: complete lines as the file grows, until SIGINT or SIGTERM. A file cut
// shorter (captured into anew) is printed again from its start.
Listed follow(QFile &file, const QString &path, HexPrinter &printer) {
    QEventLoop loop;
    platform::TerminationWatch termination;
    QObject::connect(&termination, &platform::TerminationWatch::requested, &loop,
                     &QEventLoop::quit);
    Listed listed = Listed::Done;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (file.size() < file.pos()) {
            printError(path + QStringLiteral(": file truncated"));
            file.seek(0);
            printer.restart();
        }
        listed = printAvailable(file, printer);
        if (listed != Listed::Done)
            loop.quit();
    });
    poll.start(kFollowPollMs);
    loop.exec();
    return listed == Listed::Done ? printAvailable(file, printer) : listed;
}

} // namespace

int runHex(const QStringList &arguments) {
    CommandLine line(QStringLiteral("hex"),
                     QStringLiteral("Prints FILE as the editor pane shows it: lines of 16 bytes "
                                    "with their offset, hex digits and ASCII characters. A FIFO "
                                    "or standard input (-) is printed as it comes."));
    line.addPositional(QStringLiteral("FILE"), QStringLiteral("The file to print, or -."));
    line.addOptions({{QStringLiteral("follow"),
                      QStringLiteral("Keeps printing as the file grows, until Ctrl-C.")},
                     {QStringLiteral("times"),
                      QStringLiteral("Before a line that holds the first byte of a burst, prints "
                                     "\"# <time>\", the burst's arrival time from FILE.times.")}});
    if (const auto code = line.parse(arguments))
        return *code;
    const QString path = line.positional(0);
    if (path == QLatin1String("-") && line.isSet(QStringLiteral("times")))
        return line.usageError(QStringLiteral("Standard input has no arrival times"));
    QFile file;
    int stream = -1;
    int error = 0;
    if (!platform::openInput(file, path, QIODevice::ReadOnly | QIODevice::Unbuffered, stream,
                             &error)) {
        printError(QStringLiteral("Could not open file ") + path + QStringLiteral(": ") +
                   platform::errorText(error));
        return kExitFailure;
    }
    // A stream is followed by its nature, to its writer's end.
    const bool following = line.isSet(QStringLiteral("follow")) && stream < 0;
    const bool openEnded = following || stream >= 0;
    HexPrinter printer(stdout,
                       std::max(labelWidthFor(file.size()), openEnded ? kOpenEndedLabelWidth : 0));
    arrival::SidecarStream times(arrival::sidecarPath(path));
    if (line.isSet(QStringLiteral("times"))) {
        printer.setArrivalTimes(&times);
        if (!times.exists())
            printWarning(QStringLiteral("no arrival times: there is no file ") + times.path());
    }
    Listed listed = stream >= 0 ? printStream(stream, printer) : printAvailable(file, printer);
    if (listed == Listed::Done && following)
        listed = follow(file, path, printer);
    if (stream > STDIN_FILENO)
        ::close(stream);
    // The partial last line, also of a listing that a failed read cut short.
    const bool finished = listed != Listed::WriteFailed && printer.finish();
    if (listed == Listed::Done && !finished)
        listed = Listed::WriteFailed;
    if (listed == Listed::ReadFailed)
        printError(QStringLiteral("Could not read file ") + path);
    else if (listed == Listed::WriteFailed)
        printError(QStringLiteral("Could not write standard output"));
    return listed == Listed::Done ? kExitSuccess : kExitFailure;
}

} // namespace cli
