// kalvosan-cli capture PORT [line options] [--dir D] [--name NAME] [--bytes N] [--seconds S]
//                     [--times]
#include "capture/capture_naming.h"
#include "capture/capture_session.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/progress_line.h"
#include "cli/transfer_options.h"
#include "platform/termination.h"

#include <QDir>
#include <QEventLoop>
#include <QTimer>

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
         QStringLiteral("The capture file's name; by default the window's, else "
                        "data000000.bin."),
         QStringLiteral("NAME")},
        {QStringLiteral("bytes"), QStringLiteral("Ends the capture after N bytes."),
         QStringLiteral("N")},
        {QStringLiteral("seconds"), QStringLiteral("Ends the capture after S seconds."),
         QStringLiteral("S")},
        {QStringLiteral("times"),
         QStringLiteral("Also writes NAME.times: a line per burst received, its offset in the "
                        "file and its arrival time, and a line each time the device came back.")},
    };
}

struct CaptureRequest {
    CaptureOptions options;
    QString name;                  // the file's name, which counts up after the capture
    std::optional<double> seconds; // none: no time limit
};

Checked<CaptureRequest> captureRequest(const CommandLine &line, const Stored &stored) {
    Checked<CaptureRequest> request;
    auto config = portConfigFrom(line.positional(0), lineArguments(line.parser()), stored,
                                 serial::PortProfile::Capture);
    if (!config.error.isEmpty())
        return {{}, config.error};
    const CaptureLocation location =
        captureLocationFrom(line.value(QStringLiteral("dir")), line.value(QStringLiteral("name")),
                            stored, QDir::homePath());
    CaptureOptions &options = request.value.options;
    options.port = config.value;
    options.path = capturePath(location.directory, location.name);
    options.header = captureHeader(location.name);
    options.arrivalTimes = line.isSet(QStringLiteral("times"));
    request.value.name = location.name;
    if (const auto bytes = line.value(QStringLiteral("bytes"))) {
        const auto limit = positiveCount(*bytes);
        options.byteLimit = limit.value_or(0);
        if (!limit)
            request.error = badValue(QStringLiteral("bytes"), *bytes, QStringLiteral("1 or more"));
    }
    if (const auto seconds = line.value(QStringLiteral("seconds"))) {
        request.value.seconds = positiveSeconds(*seconds);
        if (!request.value.seconds && request.error.isEmpty())
            request.error =
                badValue(QStringLiteral("seconds"), *seconds, QStringLiteral("more than 0"));
    }
    return request;
}

// One capture, until SIGINT or SIGTERM, the byte count, the time or a failed write.
class CaptureRun {
public:
    CaptureRun() {
        QObject::connect(&m_termination, &platform::TerminationWatch::requested, &m_loop,
                         &QEventLoop::quit);
        QObject::connect(&m_session, &CaptureSession::limitReached, &m_loop, &QEventLoop::quit);
        QObject::connect(&m_session, &CaptureSession::progress, &m_loop, [this](qint64 count) {
            m_progress.show(captureProgressText(count, m_progress.elapsedMs()));
        });
        // The device went away: the capture waits for it, and says so.
        QObject::connect(
            &m_session, &CaptureSession::waiting, &m_loop, [this](const QString &port) {
                m_progress.finish(progressText());
                std::fprintf(stderr, "Kalvosan - Waiting for %s...\n", qPrintable(port));
            });
        QObject::connect(&m_session, &CaptureSession::writeFailed, &m_loop,
                         [this](const QString &path) {
                             m_progress.finish(progressText());
                             printError(QStringLiteral("Could not write file ") + path);
                             m_exitCode = kExitFailure;
                             m_loop.quit();
                         });
    }

    // Empty, or why the capture could not start.
    QString start(const CaptureOptions &options) {
        serial::OpenedPort opened;
        const QString error = m_session.start(options, &opened);
        return reportOpen(error, opened);
    }

    // Runs the capture to its end; the file is complete and closed, the port released.
    int finish(std::optional<double> seconds) {
        if (seconds)
            QTimer::singleShot(qRound64(*seconds * 1000), &m_loop, &QEventLoop::quit);
        m_loop.exec();
        m_session.stop();
        if (m_exitCode == kExitSuccess)
            m_progress.finish(progressText());
        m_session.takePort();
        return m_exitCode;
    }

    const QString &path() const { return m_session.path(); }
    qint64 count() const { return m_session.count(); }

private:
    QString progressText() const { return captureProgressText(count(), m_progress.elapsedMs()); }

    QEventLoop m_loop;
    platform::TerminationWatch m_termination;
    ProgressLine m_progress;
    CaptureSession m_session;
    int m_exitCode = kExitSuccess;
};

} // namespace

int runCapture(const QStringList &arguments) {
    CommandLine line(QStringLiteral("capture"),
                     QStringLiteral("Captures what the device on PORT sends into DIR/NAME until "
                                    "Ctrl-C, SIGTERM, N bytes or S seconds, then prints "
                                    "PATH<TAB>COUNT on standard output: the file and the bytes "
                                    "captured (a header not counted). The number in NAME then "
                                    "counts up for the next capture, as in the window. Options "
                                    "left out take the window's stored settings."));
    line.addPositional(QStringLiteral("PORT"),
                       QStringLiteral("The serial port: COM1, ttyUSB0, /dev/ttyUSB0, ..."));
    line.addOptions(lineOptions());
    line.addOptions(captureOptions());
    if (const auto code = line.parse(arguments))
        return *code;
    const Checked<CaptureRequest> request = captureRequest(line, readStored());
    if (!request.error.isEmpty())
        return line.usageError(request.error);
    CaptureRun run;
    if (const QString error = run.start(request.value.options); !error.isEmpty()) {
        printError(error);
        return kExitFailure;
    }
    const int exitCode = run.finish(request.value.seconds);
    std::printf("%s\t%lld\n", qPrintable(run.path()), static_cast<long long>(run.count()));
    storeCaptureFile(advanceCaptureFileName(request.value.name));
    return exitCode;
}

} // namespace cli
