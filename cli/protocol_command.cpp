// kalvosan-cli send PORT FILE... --protocol xmodem|xmodem-1k|ymodem|zmodem [line options]
// kalvosan-cli receive PORT --protocol xmodem|ymodem|zmodem [--dir DIR] [--name NAME]
#include "cli/protocol_command.h"

#include "cli/commands.h"
#include "cli/progress_line.h"
#include "cli/transfer_options.h"
#include "platform/termination.h"
#include "protocols/transfer_session.h"

#include <QDir>
#include <QEventLoop>

namespace cli {

namespace {

using protocols::Direction;
using protocols::Protocol;

// What --protocol takes; a receive takes xmodem-1k as xmodem (either block size is taken).
const QStringList kProtocolNames{QStringLiteral("xmodem"), QStringLiteral("xmodem-1k"),
                                 QStringLiteral("ymodem"), QStringLiteral("zmodem")};

// One transfer until it ends or SIGINT/SIGTERM aborts it (the other side is then cancelled).
class ProtocolRun {
public:
    ProtocolRun() {
        QObject::connect(&m_termination, &platform::TerminationWatch::requested, &m_loop,
                         [this] { m_session.abort(); });
        QObject::connect(&m_session, &TransferSession::progress, &m_loop,
                         [this](const protocols::TransferProgress &progress) {
                             m_last = progress;
                             m_progress.show(text(progress));
                         });
        QObject::connect(&m_session, &TransferSession::finished, &m_loop,
                         [this](const protocols::TransferResult &result) { onFinished(result); });
    }

    int run(const protocols::TransferOptions &options, bool modemLinesGiven) {
        serial::OpenedPort opened;
        const QString error = m_session.start(options, &opened, &platform::untilTerminated());
        if (const QString failed = reportOpen(error, opened, modemLinesGiven); !failed.isEmpty()) {
            printError(failed);
            return kExitFailure;
        }
        if (!error.isEmpty()) {
            printError(error);
            return kExitFailure;
        }
        m_loop.exec();
        m_session.takePort();
        return m_exitCode;
    }

private:
    static QString text(const protocols::TransferProgress &progress) {
        const QString counts = protocols::progressText(progress);
        return progress.file.isEmpty() ? counts : progress.file + QStringLiteral(": ") + counts;
    }

    void onFinished(const protocols::TransferResult &result) {
        m_progress.finish(text(m_last));
        const QString end = protocols::endText(result);
        if (result.complete)
            printNote(end);
        else
            printError(end);
        m_exitCode = result.complete ? kExitSuccess : kExitFailure;
        m_loop.quit();
    }

    QEventLoop m_loop;
    platform::TerminationWatch m_termination;
    ProgressLine m_progress;
    protocols::TransferProgress m_last;
    int m_exitCode = kExitFailure;
    TransferSession m_session;
};

// The protocol, the line settings and the start's bound; a usage error or empty.
QString readCommon(const CommandLine &line, protocols::TransferOptions &options,
                   bool &modemLinesGiven) {
    const QString name = line.value(QStringLiteral("protocol")).value_or(QString());
    const std::optional<Protocol> protocol = protocols::protocolFromName(name);
    if (!protocol || !kProtocolNames.contains(name))
        return badValue(QStringLiteral("protocol"), name, kProtocolNames.join(u'|'));
    options.protocol = *protocol;
    const LineArguments given = lineArguments(line.parser());
    modemLinesGiven = given.modemLinesGiven();
    auto config =
        portConfigFrom(line.positional(0), given, readStored(), serial::PortProfile::Send);
    options.port = config.value;
    if (const auto wait = line.value(QStringLiteral("start-timeout"))) {
        const std::optional<double> seconds = positiveSeconds(*wait);
        if (!seconds)
            return badValue(QStringLiteral("start-timeout"), *wait, QStringLiteral("more than 0"));
        options.timing.startWait = std::chrono::milliseconds(qRound64(*seconds * 1000));
    }
    return config.error;
}

} // namespace

QList<QCommandLineOption> protocolOptions(const QString &protocols) {
    return {
        {QStringLiteral("protocol"),
         QStringLiteral("The file transfer protocol: %1. ZMODEM runs lrzsz's sz or rz.")
             .arg(protocols),
         QStringLiteral("NAME")},
        {QStringLiteral("start-timeout"),
         QStringLiteral("How long the other side has to start the transfer (default 60)."),
         QStringLiteral("SECONDS")},
    };
}

int runProtocolSend(const CommandLine &line) {
    protocols::TransferOptions options;
    options.direction = Direction::Send;
    bool modemLinesGiven = false;
    if (const QString error = readCommon(line, options, modemLinesGiven); !error.isEmpty())
        return line.usageError(error);
    options.files = line.parser().positionalArguments().mid(1);
    if (options.files.isEmpty())
        return line.usageError(QStringLiteral("Missing argument: FILE"));
    if (options.files.size() > 1 && !protocols::isBatch(options.protocol))
        return line.usageError(QStringLiteral("XMODEM sends one file; YMODEM and ZMODEM send "
                                              "several"));
    for (const char *option : {"hex", "text", "delay", "line-delay", "monitor", "report"}) {
        if (line.isSet(QLatin1String(option)))
            return line.usageError(
                QStringLiteral("--%1 does not go with --protocol").arg(QLatin1String(option)));
    }
    ProtocolRun run;
    return run.run(options, modemLinesGiven);
}

int runReceive(const QStringList &arguments) {
    CommandLine line(QStringLiteral("receive"),
                     QStringLiteral("Receives files from the device on PORT by XMODEM, YMODEM "
                                    "or ZMODEM into the drop directory. A received file is "
                                    "written as NAME.part and takes its name once complete; "
                                    "no file is replaced (the next free name is taken). Exits "
                                    "with 0 when every file arrived complete, 1 when not."));
    line.addPositional(QStringLiteral("PORT"), kPortDescription);
    line.addOptions(lineOptions());
    line.addOptions(protocolOptions(QStringLiteral("xmodem, ymodem or zmodem")));
    line.addOptions({
        {QStringLiteral("dir"),
         QStringLiteral("The directory the files go into; by default the window's drop "
                        "directory, else the home directory."),
         QStringLiteral("DIR")},
        {QStringLiteral("name"),
         QStringLiteral("The name of the XMODEM file (which has none of its own); by default "
                        "the next name of the window's capture numbering."),
         QStringLiteral("NAME")},
    });
    if (const auto code = line.parse(arguments))
        return *code;
    protocols::TransferOptions options;
    options.direction = Direction::Receive;
    bool modemLinesGiven = false;
    if (const QString error = readCommon(line, options, modemLinesGiven); !error.isEmpty())
        return line.usageError(error);
    const CaptureLocation location =
        captureLocationFrom(line.value(QStringLiteral("dir")), line.value(QStringLiteral("name")),
                            readStored(), QDir::homePath());
    options.directory = location.directory;
    options.name = location.name;
    if (line.isSet(QStringLiteral("name")) && protocols::isBatch(options.protocol))
        return line.usageError(QStringLiteral("--name is for XMODEM: YMODEM and ZMODEM files "
                                              "come with their names"));
    ProtocolRun run;
    return run.run(options, modemLinesGiven);
}

} // namespace cli
