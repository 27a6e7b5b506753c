// kalvosan-cli monitor PORT [line options] [--times] [--save FILE] [--bytes N] [--seconds S]
//                     [--idle S] [--wait]
#include "cli/capture_run.h"
#include "cli/commands.h"

#include <QFileInfo>

namespace cli {

namespace {

QList<QCommandLineOption> monitorOptions() {
    return {
        {QStringLiteral("times"),
         QStringLiteral("Heads each burst with \"# <time>\", the time it came.")},
        {QStringLiteral("save"),
         QStringLiteral("Also writes the bytes to FILE (an existing file is replaced)."),
         QStringLiteral("FILE")},
    };
}

Checked<CaptureRequest> monitorRequest(const CommandLine &line, const Stored &stored) {
    Checked<CaptureRequest> request;
    CaptureRequest &value = request.value;
    request.error = readCapturePort(line, stored, value);
    if (const QString error = readCaptureEnds(line, value); request.error.isEmpty())
        request.error = error;
    if (const auto save = line.value(QStringLiteral("save"))) {
        const QFileInfo file(*save);
        value.directory = file.path();
        value.name = file.fileName();
        value.nameGiven = true;
        if (value.name.isEmpty() && request.error.isEmpty())
            request.error = badValue(QStringLiteral("save"), *save, QStringLiteral("a file"));
    }
    value.options.consumerName = kStandardOutput;
    return request;
}

} // namespace

int runMonitor(const QStringList &arguments) {
    CommandLine line(QStringLiteral("monitor"),
                     QStringLiteral("Shows what the device on PORT sends as the editor pane's hex "
                                    "lines on standard output, burst by burst: each burst starts "
                                    "a line at its own offset and ends with its last partial "
                                    "line. Runs until Ctrl-C, SIGTERM, SIGHUP, N bytes, S "
                                    "seconds or S idle seconds. Nothing is written to disk "
                                    "without --save. Options left out take the window's stored "
                                    "settings."));
    line.addPositional(QStringLiteral("PORT"), kPortDescription);
    line.addOptions(lineOptions());
    line.addOptions(monitorOptions());
    line.addOptions(captureEndOptions(QStringLiteral("monitor")));
    if (const auto code = line.parse(arguments))
        return *code;
    Checked<CaptureRequest> request = monitorRequest(line, readStored());
    if (!request.error.isEmpty())
        return line.usageError(request.error);
    // The listing is on standard output; a progress line would run into it on a terminal.
    CaptureRun run(false);
    request.value.options.consumer = run.output().hexLines(line.isSet(QStringLiteral("times")));
    return run.run(request.value);
}

} // namespace cli
