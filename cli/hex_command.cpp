// kalvosan-cli hex FILE [--follow] [--times]
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/hex_printer.h"
#include "platform/files.h"
#include "platform/termination.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>

namespace cli {

namespace {

constexpr qint64 kReadSize = 1 << 16;
// How often a followed file is looked at: quick enough to feel live, never a spin.
constexpr int kFollowPollMs = 100;

// Prints what the file holds beyond what was read; false when a read failed.
bool printAvailable(QFile &file, HexPrinter &printer) {
    QByteArray buffer(kReadSize, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(buffer.data(), kReadSize);
        if (n <= 0)
            return n == 0;
        printer.add(buffer.constData(), n);
    }
}

// Like tail -f: complete lines as the file grows, until SIGINT or SIGTERM. A file cut
// shorter (captured into anew) is printed again from its start.
bool follow(QFile &file, const QString &path, HexPrinter &printer) {
    QEventLoop loop;
    platform::TerminationWatch termination;
    QObject::connect(&termination, &platform::TerminationWatch::requested, &loop,
                     &QEventLoop::quit);
    bool readable = true;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (file.size() < file.pos()) {
            printError(path + QStringLiteral(": file truncated"));
            file.seek(0);
            printer.restart();
        }
        readable = printAvailable(file, printer);
        if (!readable)
            loop.quit();
    });
    poll.start(kFollowPollMs);
    loop.exec();
    return readable && printAvailable(file, printer);
}

} // namespace

int runHex(const QStringList &arguments) {
    CommandLine line(QStringLiteral("hex"),
                     QStringLiteral("Prints FILE as the editor pane shows it: lines of 16 bytes "
                                    "with their offset, hex digits and ASCII characters."));
    line.addPositional(QStringLiteral("FILE"), QStringLiteral("The file to print."));
    line.addOptions({{QStringLiteral("follow"),
                      QStringLiteral("Keeps printing as the file grows, until Ctrl-C.")},
                     {QStringLiteral("times"),
                      QStringLiteral("Before a line that holds the first byte of a burst, prints "
                                     "\"# <time>\", the burst's arrival time from FILE.times.")}});
    if (const auto code = line.parse(arguments))
        return *code;
    const QString path = line.positional(0);
    QFile file;
    // A FIFO is refused rather than waited on.
    int error = 0;
    if (!platform::openWithoutBlocking(file, path, QIODevice::ReadOnly | QIODevice::Unbuffered,
                                       &error)) {
        printError(QStringLiteral("Could not open file ") + path + QStringLiteral(": ") +
                   platform::errorText(error));
        return kExitFailure;
    }
    const bool following = line.isSet(QStringLiteral("follow"));
    HexPrinter printer(stdout,
                       std::max(labelWidthFor(file.size()), following ? kOpenEndedLabelWidth : 0));
    arrival::SidecarStream times(arrival::sidecarPath(path));
    if (line.isSet(QStringLiteral("times"))) {
        printer.setArrivalTimes(&times);
        if (!times.exists())
            printWarning(QStringLiteral("no arrival times: there is no file ") + times.path());
    }
    bool readable = printAvailable(file, printer);
    if (readable && following)
        readable = follow(file, path, printer);
    printer.finish();
    if (!readable) {
        printError(QStringLiteral("Could not read file ") + path);
        return kExitFailure;
    }
    return kExitSuccess;
}

} // namespace cli
