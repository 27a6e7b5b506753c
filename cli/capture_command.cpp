// kalvosan-cli capture PORT [line options] [--dir D] [--name NAME | --output -] [--bytes N]
//                     [--seconds S] [--idle S] [--wait] [--times | --no-times]
#include "capture/capture_naming.h"
#include "cli/capture_run.h"
#include "cli/commands.h"

#include "platform/files.h"
#include "platform/streams.h"

#include <QDir>

#include <cerrno>
#include <unistd.h>

#include <cstdio>

namespace cli {

namespace {

QList<QCommandLineOption> captureOptions() {
    return {
        {QStringLiteral("dir"),
         QStringLiteral("The directory of the capture file; by default the window's drop "
                        "directory, else the home directory."),
         QStringLiteral("DIR")},
        {QStringLiteral("name"),
         QStringLiteral("The capture file's name for this capture (an existing file is "
                        "replaced); by default the next name of the window's numbering, else "
                        "data000000.bin, skipping names already in use."),
         QStringLiteral("NAME")},
        {QStringLiteral("output"),
         QStringLiteral("- (standard output, the one target there is): the bytes go there "
                        "instead of into a file, and -<TAB>COUNT to standard error at the end."),
         QStringLiteral("TARGET")},
        {QStringLiteral("times"),
         QStringLiteral("Also writes NAME.times: a line per burst received, its offset in the "
                        "file and its arrival time, and a line each time the device came back. "
                        "By default as the window's \"Record arrival times\".")},
        {QStringLiteral("no-times"), QStringLiteral("Writes no NAME.times.")},
    };
}

// Where the bytes go: the numbered file, the named one, or standard output.
QString readDestination(const CommandLine &line, const Stored &stored, CaptureRequest &request) {
    const CaptureLocation location =
        captureLocationFrom(line.value(QStringLiteral("dir")), line.value(QStringLiteral("name")),
                            stored, QDir::homePath());
    CaptureOptions &options = request.options;
    const bool times = line.isSet(QStringLiteral("times"));
    options.arrivalTimes =
        times || (!line.isSet(QStringLiteral("no-times")) && stored.arrivalTimes.value_or(false));
    request.directory = location.directory;
    request.name = location.name;
    request.nameGiven = line.isSet(QStringLiteral("name"));
    // An empty value would mean another target (standard output, the root folder).
    for (const auto &[option, takes] :
         {std::pair{QStringLiteral("name"), QStringLiteral("a file name")},
          std::pair{QStringLiteral("dir"), QStringLiteral("a folder")}})
        if (line.value(option) && line.value(option)->isEmpty())
            return badValue(option, {}, takes);
    if (times && line.isSet(QStringLiteral("no-times")))
        return QStringLiteral("--times and --no-times exclude each other");
    const std::optional<QString> output = line.value(QStringLiteral("output"));
    if (!output)
        return {};
    if (*output != kStandardOutput)
        return badValue(QStringLiteral("output"), *output, QStringLiteral("-"));
    if (times || request.nameGiven || line.isSet(QStringLiteral("dir")))
        return QStringLiteral("--output - writes no file: no --dir, --name or --times");
    request.name.clear();
    options.arrivalTimes = false;
    options.consumerName = kStandardOutput;
    return {};
}

Checked<CaptureRequest> captureRequest(const CommandLine &line, const Stored &stored) {
    Checked<CaptureRequest> request;
    for (const QString &error :
         {readCapturePort(line, stored, request.value),
          readDestination(line, stored, request.value), readCaptureEnds(line, request.value)}) {
        if (request.error.isEmpty())
            request.error = error;
    }
    return request;
}

} // namespace

int runCapture(const QStringList &arguments) {
    CommandLine line(QStringLiteral("capture"),
                     QStringLiteral("Captures what the device on PORT sends into DIR/NAME until "
                                    "Ctrl-C, SIGTERM, SIGHUP, N bytes, S seconds or S idle "
                                    "seconds, then prints PATH<TAB>COUNT on standard output: the "
                                    "file and the bytes captured (a header not counted). The "
                                    "number in NAME then counts up for the next capture, as in "
                                    "the window. Options left out take the window's stored "
                                    "settings."));
    line.addPositional(QStringLiteral("PORT"), kPortDescription);
    line.addOptions(lineOptions());
    line.addOptions(captureOptions());
    line.addOptions(captureEndOptions(QStringLiteral("capture")));
    if (const auto code = line.parse(arguments))
        return *code;
    Checked<CaptureRequest> request = captureRequest(line, readStored());
    if (!request.error.isEmpty())
        return line.usageError(request.error);
    const bool toOutput = request.value.name.isEmpty();
    if (toOutput && platform::closedAtStart(STDOUT_FILENO)) {
        printError(QStringLiteral("Could not write standard output: ") +
                   platform::errorText(EBADF));
        return kExitFailure;
    }
    CaptureRun run(true);
    if (toOutput)
        request.value.options.consumer = run.output().rawBytes();
    const int exitCode = run.run(request.value);
    if (!run.ran())
        return exitCode;
    if (toOutput) {
        if (!quiet())
            std::fprintf(stderr, "-\t%lld\n", static_cast<long long>(run.count()));
        return exitCode;
    }
    // The numbering goes on from this capture's name, stored before anything is printed: a
    // terminal that went away (SIGHUP) may refuse the output. A name without a number has
    // nothing to go on from and is not kept.
    const QString next = advanceCaptureFileName(request.value.name);
    if (next != request.value.name)
        storeCaptureFile(next);
    std::printf("%s\t%lld\n", qPrintable(run.path()), static_cast<long long>(run.count()));
    std::fflush(stdout);
    return exitCode;
}

} // namespace cli
