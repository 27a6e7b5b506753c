#include "cli/capture_run.h"

#include "capture/capture_naming.h"
#include "platform/files.h"
#include "platform/streams.h"

#include <QTimer>

#include <cerrno>
#include <unistd.h>

namespace cli {

namespace {

// How often a port that is not there yet is looked for: as after an unplug.
constexpr int kWaitPeriodMs = 500;

} // namespace

QList<QCommandLineOption> captureEndOptions(const QString &what) {
    return {
        {QStringLiteral("bytes"), QStringLiteral("Ends the %1 after N bytes.").arg(what),
         QStringLiteral("N")},
        {QStringLiteral("seconds"), QStringLiteral("Ends the %1 after S seconds.").arg(what),
         QStringLiteral("S")},
        {QStringLiteral("idle"),
         QStringLiteral("Ends the %1 after S seconds without a byte (from the open while none "
                        "came; a device that is away is silent).")
             .arg(what),
         QStringLiteral("S")},
        {QStringLiteral("wait"),
         QStringLiteral("Waits for a port that is not there yet, looking every 500 ms.")},
    };
}

QString readCaptureEnds(const CommandLine &line, CaptureRequest &request) {
    QString error;
    if (const auto bytes = line.value(QStringLiteral("bytes"))) {
        const auto limit = positiveCount(*bytes);
        request.options.byteLimit = limit.value_or(0);
        if (!limit)
            error = badValue(QStringLiteral("bytes"), *bytes, QStringLiteral("1 or more"));
    }
    for (const QString &option : {QStringLiteral("seconds"), QStringLiteral("idle")}) {
        const auto given = line.value(option);
        const std::optional<double> seconds = given ? positiveSeconds(*given) : std::nullopt;
        if (given && !seconds && error.isEmpty())
            error = badValue(option, *given, secondsRange());
        if (option == QLatin1String("seconds"))
            request.seconds = seconds;
        else if (seconds)
            request.options.idle = timerMilliseconds(*seconds);
    }
    request.wait = line.isSet(QStringLiteral("wait"));
    return error;
}

QString readCapturePort(const CommandLine &line, const Stored &stored, CaptureRequest &request) {
    const LineArguments given = lineArguments(line.parser());
    auto config = portConfigFrom(line.positional(0), given, stored, serial::PortProfile::Capture);
    request.options.port = config.value;
    request.modemLinesGiven = given.modemLinesGiven();
    return config.error;
}

platform::StreamWrite CaptureOutput::write(const char *data, qint64 size,
                                           const std::atomic<bool> &running) {
    const platform::StreamWrite written = platform::writeStream(STDOUT_FILENO, data, size, running);
    if (written.error != 0)
        m_error = written.error;
    return written;
}

BurstConsumer CaptureOutput::rawBytes() {
    return [this](const CapturedBurst &burst, const std::atomic<bool> &running) -> qint64 {
        const platform::StreamWrite written = write(burst.data, burst.size, running);
        return written.error != 0 ? -1 : written.written;
    };
}

BurstConsumer CaptureOutput::hexLines(bool times) {
    // A listing cut short by a stop is no failure: the capture ends with it.
    m_printer = std::make_unique<HexPrinter>(
        [this](const char *text, qint64 size) { return write(text, size, *m_running).error == 0; },
        kOpenEndedLabelWidth);
    return [this, times](const CapturedBurst &burst, const std::atomic<bool> &running) -> qint64 {
        m_running = &running;
        if (times)
            m_printer->addComment(arrival::isoTime(burst.when));
        // The burst's last partial line now, not when the next burst completes it.
        const bool written = m_printer->add(burst.data, burst.size) && m_printer->finish();
        return written ? burst.size : -1;
    };
}

CaptureRun::CaptureRun(bool showProgress) {
    if (showProgress)
        m_progress.emplace();
    QObject::connect(&m_termination, &platform::TerminationWatch::requested, &m_loop,
                     &QEventLoop::quit);
    QObject::connect(&m_session, &CaptureSession::limitReached, &m_loop, &QEventLoop::quit);
    QObject::connect(&m_session, &CaptureSession::progress, &m_loop, [this](qint64) {
        if (m_progress)
            m_progress->show(progressText());
    });
    // The device went away: the capture waits for it, and says so, and when it is back.
    QObject::connect(&m_session, &CaptureSession::waiting, &m_loop, [this](const QString &port) {
        if (m_progress)
            m_progress->finish(progressText());
        printNote(QStringLiteral("Waiting for %1...").arg(port));
    });
    QObject::connect(&m_session, &CaptureSession::reconnected, &m_loop, [this](qint64 count) {
        printNote(QStringLiteral("%1 is back; the capture goes on after %2 bytes")
                      .arg(m_port)
                      .arg(count));
    });
    QObject::connect(&m_session, &CaptureSession::writeFailed, &m_loop,
                     [this](const QString &path) {
                         if (m_progress)
                             m_progress->finish(progressText());
                         if (path == kStandardOutput)
                             printError(QStringLiteral("Could not write standard output: ") +
                                        platform::errorText(m_output.error()));
                         else
                             printError(QStringLiteral("Could not write file ") + path);
                         m_exitCode = kExitFailure;
                         m_loop.quit();
                     });
}

int CaptureRun::run(CaptureRequest &request) {
    if (const QString error = start(request); !error.isEmpty()) {
        printError(error);
        return kExitFailure;
    }
    if (!m_ran)
        return kExitSuccess;
    if (request.seconds)
        QTimer::singleShot(timerMilliseconds(*request.seconds), &m_loop, &QEventLoop::quit);
    m_loop.exec();
    m_session.stop();
    if (m_exitCode == kExitSuccess && m_progress)
        m_progress->finish(progressText());
    m_session.takePort();
    return m_exitCode;
}

QString CaptureRun::start(CaptureRequest &request) {
    m_port = request.options.port.portName;
    serial::OpenedPort opened = openPort(request);
    // The open or the wait for the port ended by a signal: nothing to run.
    if (!opened && (request.wait || !platform::untilTerminated()))
        return {};
    if (QString error = reportOpen(opened.error, opened, request.modemLinesGiven); !error.isEmpty())
        return error;
    if (!request.name.isEmpty()) {
        if (QString error = openFile(request); !error.isEmpty())
            return error;
    }
    if (!m_session.start(std::move(opened.port), request.options))
        return QStringLiteral("Could not start the capture");
    m_ran = true;
    return {};
}

// With --wait, a port that does not open is looked for again until it does or a signal comes.
serial::OpenedPort CaptureRun::openPort(const CaptureRequest &request) {
    serial::OpenedPort opened =
        serial::openPort(request.options.port, &platform::untilTerminated());
    if (opened || !request.wait)
        return opened;
    // A device that is there but does not open (held, not permitted) may stay so: the wait
    // says why, so that it is not a silent one for ever.
    QString note = QStringLiteral("Waiting for %1...").arg(m_port);
    if (opened.reason != platform::errorText(ENOENT))
        note += QStringLiteral(" (%1)").arg(opened.reason);
    printNote(note);
    QTimer retry;
    QObject::connect(&retry, &QTimer::timeout, &m_loop, [&] {
        opened = serial::openPort(request.options.port, &platform::untilTerminated());
        if (opened)
            m_loop.quit();
    });
    retry.start(kWaitPeriodMs);
    m_loop.exec();
    return opened;
}

QString CaptureRun::openFile(CaptureRequest &request) {
    return m_session.openNumberedFile(request.directory, request.name, request.nameGiven,
                                      request.options.arrivalTimes);
}

QString CaptureRun::progressText() const {
    return captureProgressText(count(), m_progress ? m_progress->elapsedMs() : 0);
}

} // namespace cli
