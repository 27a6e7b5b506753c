// kalvosan-cli capture PORT [line options] [--dir D] [--name NAME] [--bytes N] [--seconds S]
//                     [--times | --no-times]
#include "capture/capture_naming.h"
#include "capture/capture_session.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/progress_line.h"
#include "cli/transfer_options.h"
#include "platform/files.h"
#include "platform/termination.h"

#include <QDir>
#include <QEventLoop>
#include <QTimer>

#include <cerrno>
#include <cstdio>

namespace cli {

namespace {

// A capture into a name of the stored numbering looks this far for a name nobody has used.
constexpr int kMostNamesTried = 1000;

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
        {QStringLiteral("bytes"), QStringLiteral("Ends the capture after N bytes."),
         QStringLiteral("N")},
        {QStringLiteral("seconds"), QStringLiteral("Ends the capture after S seconds."),
         QStringLiteral("S")},
        {QStringLiteral("times"),
         QStringLiteral("Also writes NAME.times: a line per burst received, its offset in the "
                        "file and its arrival time, and a line each time the device came back. "
                        "By default as the window's \"Record arrival times\".")},
        {QStringLiteral("no-times"), QStringLiteral("Writes no NAME.times.")},
    };
}

struct CaptureRequest {
    CaptureOptions options;
    QString directory;
    QString name;                  // the file's name
    bool nameGiven = false;        // --name: this name, replaced if it exists
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
    options.arrivalTimes =
        line.isSet(QStringLiteral("times")) ||
        (!line.isSet(QStringLiteral("no-times")) && stored.arrivalTimes.value_or(false));
    request.value.directory = location.directory;
    request.value.name = location.name;
    request.value.nameGiven = line.isSet(QStringLiteral("name"));
    if (line.isSet(QStringLiteral("times")) && line.isSet(QStringLiteral("no-times")))
        request.error = QStringLiteral("--times and --no-times exclude each other");
    if (const auto bytes = line.value(QStringLiteral("bytes"))) {
        const auto limit = positiveCount(*bytes);
        options.byteLimit = limit.value_or(0);
        if (!limit && request.error.isEmpty())
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

// One capture, until SIGINT, SIGTERM, SIGHUP, the byte count, the time or a failed write.
class CaptureRun {
public:
    CaptureRun() {
        QObject::connect(&m_termination, &platform::TerminationWatch::requested, &m_loop,
                         &QEventLoop::quit);
        QObject::connect(&m_session, &CaptureSession::limitReached, &m_loop, &QEventLoop::quit);
        QObject::connect(&m_session, &CaptureSession::progress, &m_loop, [this](qint64 count) {
            m_progress.show(captureProgressText(count, m_progress.elapsedMs()));
        });
        // The device went away: the capture waits for it, and says so, and when it is back.
        QObject::connect(&m_session, &CaptureSession::waiting, &m_loop,
                         [this](const QString &port) {
                             m_progress.finish(progressText());
                             printNote(QStringLiteral("Waiting for %1...").arg(port));
                         });
        QObject::connect(&m_session, &CaptureSession::reconnected, &m_loop, [this](qint64 count) {
            printNote(QStringLiteral("%1 is back; the capture goes on after %2 bytes")
                          .arg(m_port)
                          .arg(count));
        });
        QObject::connect(&m_session, &CaptureSession::writeFailed, &m_loop,
                         [this](const QString &path) {
                             m_progress.finish(progressText());
                             printError(QStringLiteral("Could not write file ") + path);
                             m_exitCode = kExitFailure;
                             m_loop.quit();
                         });
    }

    // Empty, or why the capture could not start. The port is opened first, so that a capture
    // that cannot start leaves the files on disk as they were.
    QString start(CaptureRequest &request) {
        m_port = request.options.port.portName;
        serial::OpenedPort opened = serial::openPort(request.options.port);
        if (QString error = reportOpen(opened.error, opened); !error.isEmpty())
            return error;
        if (QString error = openFile(request); !error.isEmpty())
            return error;
        if (!m_session.start(std::move(opened.port), request.options))
            return QStringLiteral("Could not start the capture");
        return {};
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
    // A name given on the command line is that file, replaced; a name of the stored numbering
    // is never one already in use: the capture takes the next number that is free, so that it
    // empties no earlier capture and writes into none another capture holds.
    QString openFile(CaptureRequest &request) {
        const platform::Creation creation =
            request.nameGiven ? platform::Creation::Replace : platform::Creation::New;
        for (int tried = 1;; ++tried) {
            CaptureOptions &options = request.options;
            options.path = capturePath(request.directory, request.name);
            options.header = captureHeader(request.name);
            const QString error =
                m_session.openFile(options.path, options.header, options.arrivalTimes, creation);
            if (error.isEmpty())
                return {};
            const int reason = m_session.fileError();
            const QString next = advanceCaptureFileName(request.name);
            const bool inUse = reason == EEXIST || reason == EWOULDBLOCK;
            if (request.nameGiven || !inUse || next == request.name || tried == kMostNamesTried)
                return error + QStringLiteral(": ") + platform::errorText(reason);
            request.name = next;
        }
    }

    QString progressText() const { return captureProgressText(count(), m_progress.elapsedMs()); }

    QEventLoop m_loop;
    platform::TerminationWatch m_termination;
    ProgressLine m_progress;
    CaptureSession m_session;
    QString m_port;
    int m_exitCode = kExitSuccess;
};

} // namespace

int runCapture(const QStringList &arguments) {
    CommandLine line(QStringLiteral("capture"),
                     QStringLiteral("Captures what the device on PORT sends into DIR/NAME until "
                                    "Ctrl-C, SIGTERM, SIGHUP, N bytes or S seconds, then prints "
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
    Checked<CaptureRequest> request = captureRequest(line, readStored());
    if (!request.error.isEmpty())
        return line.usageError(request.error);
    CaptureRun run;
    if (const QString error = run.start(request.value); !error.isEmpty()) {
        printError(error);
        return kExitFailure;
    }
    const int exitCode = run.finish(request.value.seconds);
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
