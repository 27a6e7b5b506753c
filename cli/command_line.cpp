#include "cli/command_line.h"

#include <QCoreApplication>

#include <cmath>
#include <cstdio>
#include <limits>

namespace cli {

namespace {

QString g_prefix = QStringLiteral("kalvosan-cli: ");
const char *g_lineEnd = "\n";

void printLine(std::FILE *stream, const QString &text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputs(g_lineEnd, stream);
    std::fflush(stream);
}

constexpr double kMaxSeconds = kMaxMilliseconds / 1000.0;

bool g_quiet = false;

} // namespace

void setQuiet(bool quiet) {
    g_quiet = quiet;
}

bool quiet() {
    return g_quiet;
}

void setMessageStyle(const QString &prefix, const char *lineEnd) {
    g_prefix = prefix;
    g_lineEnd = lineEnd;
}

const char *messageLineEnd() {
    return g_lineEnd;
}

void printError(const QString &text) {
    printLine(stderr, g_prefix + text);
}

void printNote(const QString &text) {
    if (!g_quiet)
        printLine(stderr, g_prefix + text);
}

void printWarning(const QString &text) {
    if (!g_quiet)
        printLine(stderr, g_prefix + QStringLiteral("warning: ") + text);
}

int usageError(const QString &command, const QString &message) {
    const QString help = command.isEmpty() ? kProgramName : kProgramName + u' ' + command;
    printError(message);
    printLine(stderr, QStringLiteral("Try '%1 --help' for more information.").arg(help));
    return kExitUsage;
}

CommandLine::CommandLine(const QString &command, const QString &description) : m_command(command) {
    m_parser.setApplicationDescription(description);
    m_parser.addHelpOption();
    m_parser.addOption(quietOption());
}

void CommandLine::addPositional(const QString &name, const QString &description) {
    m_positionalNames.append(name);
    m_required = m_positionalNames.size();
    m_parser.addPositionalArgument(name, description);
}

void CommandLine::addOptionalPositional(const QString &name, const QString &description) {
    m_positionalNames.append(name);
    m_parser.addPositionalArgument(name, description, u'[' + name + u']');
}

void CommandLine::addOptions(const QList<QCommandLineOption> &options) {
    m_parser.addOptions(options);
}

std::optional<int> CommandLine::parse(const QStringList &arguments) {
    // The parser skips the first element, the name the program was started by.
    if (!m_parser.parse(QStringList{kProgramName} + arguments))
        return usageError(m_parser.errorText());
    if (m_parser.isSet(quietOption()))
        setQuiet(true);
    if (m_parser.isSet(QStringLiteral("help")) || m_parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(helpText(m_parser, m_command).toLocal8Bit().constData(), stdout);
        return kExitSuccess;
    }
    const QStringList given = m_parser.positionalArguments();
    if (given.size() < m_required)
        return usageError(QStringLiteral("Missing argument: ") +
                          m_positionalNames.at(given.size()));
    if (given.size() > m_positionalNames.size())
        return usageError(QStringLiteral("Unexpected argument: ") +
                          given.at(m_positionalNames.size()));
    return std::nullopt;
}

std::optional<QString> CommandLine::value(const QString &name) const {
    if (!m_parser.isSet(name))
        return std::nullopt;
    return m_parser.value(name);
}

QString helpText(const QCommandLineParser &parser, const QString &command) {
    QString text = parser.helpText();
    const QString startedAs = QStringLiteral("Usage: ") + QCoreApplication::arguments().value(0);
    const QString name = command.isEmpty() ? kProgramName : kProgramName + u' ' + command;
    if (text.startsWith(startedAs))
        text.replace(0, startedAs.size(), QStringLiteral("Usage: ") + name);
    return text;
}

std::optional<double> positiveSeconds(const QString &text) {
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds <= 0 || seconds > kMaxSeconds)
        return std::nullopt;
    return seconds;
}

std::optional<qint64> positiveCount(const QString &text) {
    bool ok = false;
    const qint64 count = text.toLongLong(&ok, 10);
    if (!ok || count <= 0)
        return std::nullopt;
    return count;
}

std::optional<double> nonNegativeMilliseconds(const QString &text) {
    bool ok = false;
    const double ms = text.toDouble(&ok);
    if (!ok || !std::isfinite(ms) || ms < 0 || ms > kMaxSeconds * 1000)
        return std::nullopt;
    return ms;
}

std::chrono::milliseconds timerMilliseconds(double seconds) {
    return std::chrono::milliseconds(std::max<qint64>(1, qRound64(seconds * 1000)));
}

QString secondsRange() {
    return QStringLiteral("more than 0, at most %1").arg(qint64(kMaxSeconds));
}

QString millisecondsRange() {
    return QStringLiteral("0 to %1").arg(qint64(kMaxMilliseconds));
}

QString badValue(const QString &option, const QString &text, const QString &takes) {
    QString message = QStringLiteral("Bad value for --%1: %2").arg(option, text);
    if (!takes.isEmpty())
        message += QStringLiteral(" (%1)").arg(takes);
    return message;
}

} // namespace cli
