// kalvosan-cli send PORT (FILE | - | --hex BYTES | --text TEXT) [line options] [--delay MS]
//                  [--mode1 | --mode2] [--line-delay MS] [--monitor SECONDS] [--report FILE]
// With --protocol, the protocol's own command (cli/protocol_command.cpp).
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/hex_printer.h"
#include "cli/progress_line.h"
#include "cli/protocol_command.h"
#include "cli/transfer_options.h"
#include "platform/files.h"
#include "platform/streams.h"
#include "platform/termination.h"
#include "transmit/send_session.h"
#include "transmit/timing_picture.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <unistd.h>

namespace cli {

namespace {

QList<QCommandLineOption> sendOptions() {
    return {
        {QStringLiteral("delay"),
         QStringLiteral("-1 sends chunks of 4096 bytes; 0 or more sends byte by byte with a "
                        "busy-waited pause of MS milliseconds (fractions too) after each byte."),
         QStringLiteral("MS")},
        {QStringLiteral("mode2"),
         QStringLiteral("A write that times out drops the rest instead of offering it again. "
                        "By default as the window's \"Mode 1 / 2\".")},
        {QStringLiteral("mode1"),
         QStringLiteral("A write that times out offers the rest again until it is out.")},
        {QStringLiteral("line-delay"),
         QStringLiteral("An extra pause of MS milliseconds after each line feed (0x0A); with "
                        "--delay -1 the file goes out in pieces that end at each line end."),
         QStringLiteral("MS")},
        {QStringLiteral("monitor"),
         QStringLiteral("After the send, prints what the device answers for SECONDS seconds, "
                        "as hex lines on standard output."),
         QStringLiteral("SECONDS")},
        {QStringLiteral("report"),
         QStringLiteral("Writes what is known of the send to FILE as JSON: the bytes sent, the "
                        "time and the throughput, and the timing report of a send byte by byte "
                        "with the histogram of its gaps. A FILE ending in .svg gets the report "
                        "and the histogram as a picture instead. FILE is created before anything "
                        "is sent."),
         QStringLiteral("FILE")},
        {QStringLiteral("hex"),
         QStringLiteral("Sends these bytes instead of a file: pairs of hex digits, with or "
                        "without blanks and 0x (\"01 02 FF\")."),
         QStringLiteral("BYTES")},
        {QStringLiteral("text"),
         QStringLiteral("Sends this text instead of a file, with the escapes \\r \\n \\t "
                        "\\\\ and \\xHH (\"AT\\r\\n\")."),
         QStringLiteral("TEXT")},
    };
}

struct SendRequest {
    QString path;                    // the file, or "-": standard input
    std::optional<QByteArray> bytes; // --hex or --text instead of a file
    transmit::SendOptions options;
    std::optional<double> monitorSeconds; // none: no reply monitor
    QString reportPath;                   // empty: no JSON report
    bool modemLinesGiven = false;
};

// Exactly one of FILE, --hex and --text; the bytes of either option.
QString readWhat(const CommandLine &line, SendRequest &request) {
    const std::optional<QString> hex = line.value(QStringLiteral("hex"));
    const std::optional<QString> text = line.value(QStringLiteral("text"));
    if (int(!request.path.isEmpty()) + int(hex.has_value()) + int(text.has_value()) != 1)
        return QStringLiteral("Give one of FILE, --hex and --text");
    if (!hex && !text)
        return {};
    Checked<QByteArray> bytes = hex ? bytesFromHex(*hex) : bytesFromText(*text);
    request.bytes = std::move(bytes.value);
    return bytes.error;
}

Checked<SendRequest> sendRequest(const CommandLine &line, const Stored &stored) {
    const LineArguments given = lineArguments(line.parser());
    auto config = portConfigFrom(line.positional(0), given, stored, serial::PortProfile::Send);
    const Checked<double> delay = sendDelayFrom(line.value(QStringLiteral("delay")), stored);
    Checked<SendRequest> request;
    request.value.path = line.positional(1);
    request.value.modemLinesGiven = given.modemLinesGiven();
    request.error = readWhat(line, request.value);
    if (request.error.isEmpty())
        request.error = config.error;
    if (request.error.isEmpty())
        request.error = delay.error;
    transmit::SendOptions &options = request.value.options;
    options.port = config.value;
    options.delayMs = delay.value;
    options.mode2 = line.isSet(QStringLiteral("mode2")) ||
                    (!line.isSet(QStringLiteral("mode1")) && stored.mode2.value_or(false));
    if (line.isSet(QStringLiteral("mode1")) && line.isSet(QStringLiteral("mode2")) &&
        request.error.isEmpty())
        request.error = QStringLiteral("--mode1 and --mode2 exclude each other");
    if (const auto lineDelay = line.value(QStringLiteral("line-delay"))) {
        const std::optional<double> ms = nonNegativeMilliseconds(*lineDelay);
        options.lineDelayMs = ms.value_or(0);
        if (!ms && request.error.isEmpty())
            request.error = badValue(QStringLiteral("line-delay"), *lineDelay, millisecondsRange());
    }
    request.value.reportPath = line.value(QStringLiteral("report")).value_or(QString());
    if (line.value(QStringLiteral("report")) && request.value.reportPath.isEmpty() &&
        request.error.isEmpty())
        request.error = badValue(QStringLiteral("report"), {}, QStringLiteral("a file name"));
    if (const auto monitor = line.value(QStringLiteral("monitor"))) {
        request.value.monitorSeconds = positiveSeconds(*monitor);
        options.replyMonitor = request.value.monitorSeconds.has_value();
        if (!options.replyMonitor && request.error.isEmpty())
            request.error = badValue(QStringLiteral("monitor"), *monitor, secondsRange());
    }
    return request;
}

// A run flag that is down: a write that does not wait for room.
const std::atomic<bool> kNoWait{false};

// One send, until the whole file is out (and the reply monitor's time is over), a failure, or
// SIGINT/SIGTERM.
class SendRun {
public:
    SendRun(std::optional<double> monitorSeconds, const QString &reportPath)
        : m_monitorSeconds(monitorSeconds), m_reportPath(reportPath),
          m_replies([this](const char *text, qint64 size) { return writeReplies(text, size); },
                    kOpenEndedLabelWidth) {
        QObject::connect(&m_termination, &platform::TerminationWatch::requested, &m_loop,
                         [this] { m_session.abort(); });
        QObject::connect(&m_session, &SendSession::progress, &m_loop,
                         [this](qint64 sent, qint64 length) {
                             m_sent = sent;
                             m_length = length;
                             m_progress.show(progressText());
                         });
        QObject::connect(&m_session, &SendSession::monitoringStarted, &m_loop,
                         [this] { onMonitoringStarted(); });
        QObject::connect(&m_session, &SendSession::finished, &m_loop,
                         [this](const transmit::SendResult &result) { onFinished(result); });
    }

    // Empty, or why the send could not start. A FIFO is opened without waiting for its writer,
    // which the send then waits for as it waits for standard input: in waits a signal ends.
    QString start(const SendRequest &request) {
        if (request.bytes) {
            m_session.setBytes(*request.bytes);
        } else if (QString error =
                       m_session.openFile(request.path, transmit::SendSource::Streams::Accepted);
                   !error.isEmpty()) {
            return error + QStringLiteral(": ") + platform::errorText(m_session.fileError());
        }
        m_stream = m_session.fileSize() < 0;
        transmit::SendOptions options = request.options;
        options.replyConsumer = [this](const char *data, qint64 size,
                                       const std::atomic<bool> &running) {
            m_replyRunning = &running;
            return m_replies.add(data, size);
        };
        serial::OpenedPort opened;
        // Ctrl-C ends the open of a network port too, which may take seconds.
        const QString error = m_session.startOpened(options, &opened, &platform::untilTerminated());
        return reportOpen(error, opened, request.modemLinesGiven);
    }

    // The report file is created before anything is sent: a path that cannot take it is
    // found before the device has the bytes. Empty, or why not.
    QString createReport(const QString &path) {
        int error = 0;
        if (path.isEmpty() ||
            platform::openWithoutBlocking(m_report, path,
                                          QIODevice::WriteOnly | QIODevice::Truncate, &error))
            return {};
        return QStringLiteral("Could not open file ") + path + QStringLiteral(": ") +
               platform::errorText(error);
    }

    int finish() {
        m_loop.exec();
        m_session.takePort();
        return m_exitCode;
    }

private:
    // The reason and how far the send got.
    QString writeFailureText(const transmit::SendResult &result) const {
        QString text = QStringLiteral("Could not write port ") + result.portName;
        if (!result.failure.isEmpty())
            text += QStringLiteral(": ") + result.failure;
        if (m_stream)
            return text + QStringLiteral(" (%1 bytes sent)").arg(result.sent);
        return text + QStringLiteral(" (%1 of %2 bytes sent)").arg(result.sent).arg(result.length);
    }

    // The replies, as monitor prints its lines, written from the session's worker: a reader
    // that stops reading holds up the monitor, which then reads the port no more, and neither
    // this thread nor the monitor's time. The write waits for room only while the session runs.
    bool writeReplies(const char *text, qint64 size) {
        const platform::StreamWrite written =
            platform::writeStream(STDOUT_FILENO, text, size, *m_replyRunning.load());
        int none = 0;
        if (written.error != 0)
            m_outputError.compare_exchange_strong(none, written.error);
        return written.error == 0;
    }

    QString progressText() const {
        return sendProgressText(m_sent, m_length, m_progress.elapsedMs());
    }

    void onMonitoringStarted() {
        // The send is over; the replies that follow go to standard output.
        m_progress.finish(progressText());
        m_progressDone = true;
        QTimer::singleShot(timerMilliseconds(m_monitorSeconds.value_or(0)), &m_loop,
                           [this] { m_session.abort(); });
    }

    void onFinished(const transmit::SendResult &result) {
        // The last partial line, if the reader has room for it: the session is over.
        m_replyRunning = &kNoWait;
        m_replies.finish();
        m_sent = result.sent;
        m_length = result.length;
        if (!m_progressDone)
            m_progress.finish(progressText());
        m_exitCode = result.end == transmit::SendEnd::Done && m_outputError == 0 ? kExitSuccess
                                                                                 : kExitFailure;
        if (m_outputError != 0)
            printError(QStringLiteral("Could not write standard output: ") +
                       platform::errorText(m_outputError));
        if (result.end == transmit::SendEnd::ReadFailed)
            printError(QStringLiteral("Could not read file ") + result.path);
        else if (result.end == transmit::SendEnd::WriteFailed)
            printError(writeFailureText(result));
        else if (result.end == transmit::SendEnd::Aborted && m_stream)
            printError(QStringLiteral("Send interrupted after %1 bytes").arg(result.sent));
        else if (result.end == transmit::SendEnd::Aborted)
            printError(QStringLiteral("Send interrupted after %1 of %2 bytes")
                           .arg(result.sent)
                           .arg(result.length));
        report(result);
        m_loop.quit();
    }

    // The timing of a send byte by byte for a person on standard error, and what is known of
    // any send (bytes, time, throughput, the timing) as JSON, or the timing as a picture.
    void report(const transmit::SendResult &result) {
        if (result.timing.bytes > 0 && !quiet())
            std::fprintf(stderr, "%s\n", qPrintable(transmit::timingReportText(result.timing)));
        if (!m_report.isOpen())
            return;
        const QByteArray text =
            m_reportPath.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)
                ? transmit::timingSvg(result.timing)
                : transmit::sendReportJson(result.sent, result.durationNs, result.timing);
        if (!platform::writeAndClose(m_report, text.constData(), text.size())) {
            printError(QStringLiteral("Could not write file ") + m_reportPath);
            m_exitCode = kExitFailure;
        }
    }

    std::optional<double> m_monitorSeconds;
    QString m_reportPath;
    QFile m_report;
    QEventLoop m_loop;
    platform::TerminationWatch m_termination;
    ProgressLine m_progress;
    HexPrinter m_replies;
    qint64 m_sent = 0;
    qint64 m_length = 0;
    bool m_progressDone = false;
    // Of the replies being written: the session's run flag on its worker, kNoWait at the end
    // (set on the main thread).
    std::atomic<const std::atomic<bool> *> m_replyRunning{&kNoWait};
    std::atomic<int> m_outputError{0}; // of the replies' output
    bool m_stream = false;             // no length: the count alone tells how far it got
    int m_exitCode = kExitFailure;
    SendSession m_session;
};

} // namespace

int runSend(const QStringList &arguments) {
    CommandLine line(QStringLiteral("send"),
                     QStringLiteral("Sends FILE (or standard input, or the bytes of --hex or "
                                    "--text) to the device on PORT. Exits with 0 when "
                                    "everything went out, 1 when it did not (a failure, or "
                                    "Ctrl-C / SIGTERM). Options left out take the window's "
                                    "stored settings."));
    line.addPositional(QStringLiteral("PORT"), kPortDescription);
    line.addOptionalPositional(QStringLiteral("FILE"),
                               QStringLiteral("The file to send, a FIFO, or - for standard "
                                              "input, sent as it comes; with --protocol ymodem "
                                              "or zmodem, several files."),
                               true);
    line.addOptions(lineOptions());
    line.addOptions(sendOptions());
    line.addOptions(protocolOptions(QStringLiteral("xmodem, xmodem-1k, ymodem or zmodem")));
    if (const auto code = line.parse(arguments))
        return *code;
    if (line.isSet(QStringLiteral("protocol")))
        return runProtocolSend(line);
    if (line.parser().positionalArguments().size() > 2)
        return line.usageError(QStringLiteral("Unexpected argument: ") +
                               line.parser().positionalArguments().at(2));
    const Checked<SendRequest> request = sendRequest(line, readStored());
    if (!request.error.isEmpty())
        return line.usageError(request.error);
    SendRun run(request.value.monitorSeconds, request.value.reportPath);
    if (const QString error = run.createReport(request.value.reportPath); !error.isEmpty())
        return line.usageError(error);
    if (const QString error = run.start(request.value); !error.isEmpty()) {
        printError(error);
        return kExitFailure;
    }
    return run.finish();
}

} // namespace cli
