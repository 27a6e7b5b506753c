// The command line of one command (ports, capture, send, hex): Qt's parser with the
// command's own options and positional arguments, its --help, the exit codes and the texts of
// bad usage. A command adds an option in two lines: one QCommandLineOption in its list, one
// read of it after parse().
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>
#include <chrono>
#include <limits>
#include <optional>

namespace cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1; // a failed transfer or an error
inline constexpr int kExitUsage = 2;

inline const QString kProgramName = QStringLiteral("kalvosan-cli");
// What the PORT argument of a command takes.
inline const QString kPortDescription = QStringLiteral(
    "The serial port: COM1, ttyUSB0, /dev/ttyUSB0, a /dev/serial/by-id/... name, or a serial "
    "server's port, rfc2217://HOST:PORT or tcp://HOST:PORT.");

// The terminal's own messages start with "[kalvosan] " instead of the program's name, and end
// with "\r\n" while the user's terminal is in raw mode (its output is not translated).
void setMessageStyle(const QString &prefix, const char *lineEnd);
const char *messageLineEnd();

// "kalvosan-cli: " and the text, on standard error.
void printError(const QString &text);
void printWarning(const QString &text);
// What a transfer has to say that is neither an error nor a warning ("Waiting for ...").
void printNote(const QString &text);

// -q: standard error gets errors only; warnings, notes, the progress line and the reports
// meant for a person are left out.
void setQuiet(bool quiet);
bool quiet();
inline const QCommandLineOption &quietOption() {
    static const QCommandLineOption option(
        QStringList{QStringLiteral("q"), QStringLiteral("quiet")},
        QStringLiteral("Prints nothing on standard error but errors."));
    return option;
}

// Prints the message and the hint to the help of the command (empty: of the program) on
// standard error; returns kExitUsage.
int usageError(const QString &command, const QString &message);

class CommandLine {
public:
    CommandLine(const QString &command, const QString &description);
    CommandLine(const CommandLine &) = delete;
    CommandLine &operator=(const CommandLine &) = delete;

    void addPositional(const QString &name, const QString &description);
    // A positional argument that may be left out; after every required one.
    void addOptionalPositional(const QString &name, const QString &description);
    void addOptions(const QList<QCommandLineOption> &options);

    // Parses the arguments after the command's name. An exit code when the command ends here
    // (its help printed: 0; bad usage reported: 2), none when it goes on.
    std::optional<int> parse(const QStringList &arguments);

    const QCommandLineParser &parser() const { return m_parser; }
    QString positional(int index) const { return m_parser.positionalArguments().value(index); }
    bool isSet(const QString &name) const { return m_parser.isSet(name); }
    // The value of an option, none when it was left out.
    std::optional<QString> value(const QString &name) const;
    int usageError(const QString &message) const { return cli::usageError(m_command, message); }

private:
    QString m_command;
    QStringList m_positionalNames;
    qsizetype m_required = 0;
    QCommandLineParser m_parser;
};

// The help of the program's parser or a command's, with the program's own name in the usage
// line rather than the path it was started by.
QString helpText(const QCommandLineParser &parser, const QString &command);

// The longest time an option takes: QTimer counts in int milliseconds.
inline constexpr double kMaxMilliseconds = std::numeric_limits<int>::max();

// Option values that are numbers: none when the text is not one in range (positiveSeconds:
// secondsRange(), nonNegativeMilliseconds: millisecondsRange()).
std::optional<double> positiveSeconds(const QString &text);
std::optional<qint64> positiveCount(const QString &text);
std::optional<double> nonNegativeMilliseconds(const QString &text);
QString secondsRange();
QString millisecondsRange();
// A time of the command line for a timer: a positive one below the timer's resolution is that
// resolution, not "no time".
std::chrono::milliseconds timerMilliseconds(double seconds);
// "Bad value for --name: text" and, when given, what the option takes.
QString badValue(const QString &option, const QString &text, const QString &takes = {});

} // namespace cli
