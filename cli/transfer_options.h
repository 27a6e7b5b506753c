// The settings of a transfer from its arguments and the window's stored settings: what the
// user left out takes the stored value, else the window's default. Pure functions, so that
// tests call them with any stored values.
#pragma once

#include "cli/stored.h"
#include "serial/port_config.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <optional>

namespace cli {

// A value, or why the arguments give none (bad usage).
template <class T> struct Checked {
    T value{};
    QString error;
};

// The line options of capture, monitor and send as given: --baud, --data, --parity, --stop,
// --flow, --dtr, --rts, --pulse (none where left out) and --rs485.
struct LineArguments {
    std::optional<QString> baud;
    std::optional<QString> dataBits;
    std::optional<QString> parity;
    std::optional<QString> stopBits;
    std::optional<QString> flow;
    bool rs485 = false;
    std::optional<QString> dtr{};
    std::optional<QString> rts{};
    std::optional<QString> pulse{};
    bool modemLinesGiven() const { return dtr || rts || pulse; }
};

QList<QCommandLineOption> lineOptions();
LineArguments lineArguments(const QCommandLineParser &parser);

// The port's configuration: the baud rate and the indices of the window's combo box lists.
// A stored text selects the first item it begins with, as the window restores it. The modem
// lines are the command line's alone: "on" or "off", a pulse "dtr:MS" or "rts:MS" of a line
// that is not held off.
Checked<serial::PortConfig> portConfigFrom(const QString &portName, const LineArguments &given,
                                           const Stored &stored, serial::PortProfile profile);

// The send's pause after each byte in milliseconds: -1 (whole chunks) or 0 and more, given
// with fractions; else the stored integer, else -1.
Checked<double> sendDelayFrom(const std::optional<QString> &given, const Stored &stored);

// After a session's start: the text to print for a start that failed (a port's with the
// system's reason after it), else empty, with the warnings of the opened port printed (RS485
// refused, the line settings the port kept, modem lines asked for on a port without them).
QString reportOpen(const QString &error, const serial::OpenedPort &opened,
                   bool modemLinesGiven = false);

// The bytes of send --hex: pairs of hex digits, the groups between blanks each with or without
// "0x" ("01 02 FF", "0102ff", "0x01 0x02"). An odd count of digits in a group is bad usage.
Checked<QByteArray> bytesFromHex(const QString &text);
// The bytes of send --text: its characters in UTF-8, with the escapes \r \n \t \\ and \xHH.
// Any other escape is bad usage.
Checked<QByteArray> bytesFromText(const QString &text);

struct CaptureLocation {
    QString directory;
    QString name;
};
// The given directory and name, else the stored ones, else the home directory and
// data000000.bin.
CaptureLocation captureLocationFrom(const std::optional<QString> &directory,
                                    const std::optional<QString> &name, const Stored &stored,
                                    const QString &home);

} // namespace cli
