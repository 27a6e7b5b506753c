// kalvosan-cli term PORT [line options] [--eol-out E] [--map-in E] [--echo] [--timestamps[=T]]
//                  [--hex] [--gap MS] [--log] [--name NAME] [--dir DIR] [--times] [--wait]
//                  [--escape CHAR] [--idle S]
#include "cli/commands.h"
#include "cli/term_run.h"

#include <QDir>

namespace cli {

namespace {

QList<QCommandLineOption> termOptions() {
    return {
        {QStringLiteral("eol-out"),
         QStringLiteral("What Enter sends: cr (the default), lf or crlf. Through a pipe, each "
                        "line end (LF) of standard input is sent so; without this option "
                        "standard input goes out unchanged."),
         QStringLiteral("cr|lf|crlf")},
        {QStringLiteral("map-in"),
         QStringLiteral("Shows each line end the device sends (CR LF, CR or LF) as crlf, lf or "
                        "cr; by default as it came."),
         QStringLiteral("crlf|lf|cr")},
        {QStringLiteral("echo"), QStringLiteral("Shows what is typed (local echo).")},
        {QStringLiteral("timestamps"),
         QStringLiteral("Puts the time before each line: wall (the wall clock with "
                        "milliseconds, the default of --timestamps alone), start (seconds since "
                        "the start) or delta (seconds since the previous line)."),
         QStringLiteral("wall|start|delta")},
        {QStringLiteral("hex"),
         QStringLiteral("Shows what comes as hex pairs, 16 to a line; typed lines of hex "
                        "pairs are sent as bytes, as send --hex takes them.")},
        {QStringLiteral("gap"),
         QStringLiteral("In the hex view, starts a new line after MS milliseconds without a "
                        "byte (50 by default)."),
         QStringLiteral("MS")},
        {QStringLiteral("log"),
         QStringLiteral("Logs every byte the device sends, exactly, into DIR/NAME, however the "
                        "view shows them (Ctrl-T l switches the log on and off).")},
        {QStringLiteral("dir"),
         QStringLiteral("The directory of the log; by default the window's drop directory, "
                        "else the home directory."),
         QStringLiteral("DIR")},
        {QStringLiteral("name"),
         QStringLiteral("The log's name (an existing file is replaced); by default the next "
                        "name of the window's numbering, skipping names already in use."),
         QStringLiteral("NAME")},
        {QStringLiteral("times"),
         QStringLiteral("Also writes NAME.times, the arrival time of each burst logged.")},
        {QStringLiteral("wait"),
         QStringLiteral("Waits for a port that is not there yet, looking every 500 ms.")},
        {QStringLiteral("escape"),
         QStringLiteral("The escape key: Ctrl and CHAR (a letter or one of @[\\]^_); Ctrl-T by "
                        "default. Through a pipe there is none unless given."),
         QStringLiteral("CHAR")},
        {QStringLiteral("idle"),
         QStringLiteral("Through a pipe: ends S seconds (0.5 by default) after standard input "
                        "and the device have both gone quiet."),
         QStringLiteral("S")},
    };
}

// --timestamps alone is --timestamps=wall: the parser knows no option with a value left out.
QStringList withStampsValue(const QStringList &arguments) {
    QStringList result = arguments;
    for (QString &argument : result) {
        if (argument == QLatin1String("--"))
            break;
        if (argument == QLatin1String("--timestamps"))
            argument = QStringLiteral("--timestamps=wall");
    }
    return result;
}

template <class T>
void readChoice(const CommandLine &line, const QString &option, const QString &takes,
                std::optional<T> (*parse)(const QString &), std::optional<T> &into,
                QString &error) {
    const auto given = line.value(option);
    if (!given)
        return;
    into = parse(*given);
    if (!into && error.isEmpty())
        error = badValue(option, *given, takes);
}

QString readView(const CommandLine &line, TermRequest &request) {
    QString error;
    term::ViewSettings &view = request.view;
    readChoice(line, QStringLiteral("eol-out"), QStringLiteral("cr, lf or crlf"),
               term::lineEndFromName, request.eolOut, error);
    readChoice(line, QStringLiteral("map-in"), QStringLiteral("crlf, lf or cr"),
               term::lineEndFromName, view.mapIn, error);
    std::optional<term::Stamps> stamps;
    readChoice(line, QStringLiteral("timestamps"), QStringLiteral("wall, start or delta"),
               term::stampsFromName, stamps, error);
    view.stamps = stamps.value_or(term::Stamps::Off);
    readChoice(line, QStringLiteral("escape"), QStringLiteral("a letter or one of @[\\]^_"),
               term::escapeKeyFromName, request.escape, error);
    view.hex = line.isSet(QStringLiteral("hex"));
    request.echo = line.isSet(QStringLiteral("echo"));
    if (const auto gap = line.value(QStringLiteral("gap"))) {
        const std::optional<double> ms = nonNegativeMilliseconds(*gap);
        view.gap = std::chrono::milliseconds(qRound64(ms.value_or(50)));
        if (!ms && error.isEmpty())
            error = badValue(QStringLiteral("gap"), *gap, QStringLiteral("0 or more"));
    }
    if (const auto idle = line.value(QStringLiteral("idle"))) {
        const std::optional<double> seconds = positiveSeconds(*idle);
        request.idle = std::chrono::milliseconds(qRound64(seconds.value_or(0.5) * 1000));
        if (!seconds && error.isEmpty())
            error = badValue(QStringLiteral("idle"), *idle, QStringLiteral("more than 0"));
    }
    return error;
}

Checked<TermRequest> termRequest(const CommandLine &line, const Stored &stored) {
    Checked<TermRequest> request;
    TermRequest &value = request.value;
    const LineArguments given = lineArguments(line.parser());
    auto config = portConfigFrom(line.positional(0), given, stored, serial::PortProfile::Capture);
    value.port = config.value;
    value.modemLinesGiven = given.modemLinesGiven();
    request.error = config.error;
    if (const QString error = readView(line, value); request.error.isEmpty())
        request.error = error;
    const CaptureLocation location =
        captureLocationFrom(line.value(QStringLiteral("dir")), line.value(QStringLiteral("name")),
                            stored, QDir::homePath());
    value.log = line.isSet(QStringLiteral("log"));
    value.logFile.directory = location.directory;
    value.logFile.name = location.name;
    value.logFile.nameGiven = line.isSet(QStringLiteral("name"));
    value.logFile.options.arrivalTimes = line.isSet(QStringLiteral("times"));
    value.wait = line.isSet(QStringLiteral("wait"));
    value.sendDelayMs = sendDelayFrom(std::nullopt, stored).value;
    value.mode2 = stored.mode2.value_or(false);
    return request;
}

} // namespace

int runTerm(const QStringList &arguments) {
    CommandLine line(QStringLiteral("term"),
                     QStringLiteral("A terminal on PORT: every key goes to the device as typed "
                                    "(Ctrl-C too) and what the device sends comes to standard "
                                    "output unchanged, until Ctrl-T q (or SIGTERM, SIGHUP, "
                                    "SIGINT). Ctrl-T ? lists the commands; the terminal's own "
                                    "messages go to standard error, each on a line of its own "
                                    "that starts with \"[kalvosan] \". When standard input is "
                                    "not a terminal, term is a two-way pipe: standard input to "
                                    "the device, the device to standard output, ending after "
                                    "--idle. Exits with 0 for the quit key, the end of the "
                                    "input or a signal, 1 when the port or the log could not "
                                    "be opened or failed. Options left out take the window's "
                                    "stored settings."));
    line.addPositional(QStringLiteral("PORT"), kPortDescription);
    line.addOptions(lineOptions());
    line.addOptions(termOptions());
    if (const auto code = line.parse(withStampsValue(arguments)))
        return *code;
    Checked<TermRequest> request = termRequest(line, readStored());
    if (!request.error.isEmpty())
        return line.usageError(request.error);
    TermRun run(std::move(request.value));
    return run.run();
}

} // namespace cli
