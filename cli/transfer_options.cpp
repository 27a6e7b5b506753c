#include "cli/transfer_options.h"

#include "cli/command_line.h"
#include "platform/files.h"
#include "res/control_ids.h"
#include "res/dialog_templates.h"
#include "serial/baud.h"
#include "serial/network_address.h"
#include "serial/port_names.h"
#include "transmit/send_bytes.h"
#include "transmit/send_logic.h"

#include <algorithm>
#include <cmath>

namespace cli {

namespace {

// A combo box of the window as a line option: the words the option takes (each selects the
// item it begins, as a stored text does) and the window's default item.
struct Choice {
    QString option;
    int controlId;
    QStringList accepted;
    QString fallback;
};

// Every value the window offers: what the platform cannot set (4 data bits, 1.5 stop bits)
// keeps the port's own value, with a warning naming it.
const Choice kDataBits{QStringLiteral("data"), ctl::DataBits, {"4", "5", "6", "7", "8"}, "8"};
const Choice kParity{
    QStringLiteral("parity"), ctl::Parity, {"none", "odd", "even", "mark", "space"}, "None"};
const Choice kStopBits{QStringLiteral("stop"), ctl::StopBits, {"1", "1.5", "2"}, "1"};
const Choice kFlow{QStringLiteral("flow"), ctl::Flow, {"none", "hardware", "software"}, "None"};

constexpr std::uint32_t kDefaultBaud = 9600;

void fail(QString &error, const QString &message) {
    if (error.isEmpty())
        error = message;
}

int choiceIndex(const Choice &choice, const std::optional<QString> &given,
                const std::optional<QString> &stored, QString &error) {
    const auto items = res::comboItems(choice.controlId);
    if (given) {
        if (choice.accepted.contains(*given, Qt::CaseInsensitive))
            return res::indexByPrefix(items, *given);
        fail(error, badValue(choice.option, *given, choice.accepted.join(QStringLiteral(", "))));
        return -1;
    }
    // A stored text that selects nothing leaves the window's default, as in the window.
    const int storedIndex = stored ? res::indexByPrefix(items, *stored) : -1;
    return storedIndex >= 0 ? storedIndex : res::indexByPrefix(items, choice.fallback);
}

bool allDigits(const QString &text) {
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

std::uint32_t baudFrom(const std::optional<QString> &given, const std::optional<QString> &stored,
                       QString &error) {
    if (given) {
        bool ok = false;
        const uint baud = given->toUInt(&ok, 10);
        if (ok && baud > 0 && allDigits(*given))
            return baud;
        fail(error, badValue(QStringLiteral("baud"), *given, QStringLiteral("a decimal rate")));
        return 0;
    }
    // The window reads its baud text by the leading digits; none keep the port's rate.
    if (stored && !stored->isEmpty())
        return serial::baudFromText(*stored);
    return kDefaultBaud;
}

std::optional<bool> levelFrom(const QString &option, const std::optional<QString> &given,
                              QString &error) {
    if (!given)
        return std::nullopt;
    if (given->compare(QLatin1String("on"), Qt::CaseInsensitive) == 0)
        return true;
    if (given->compare(QLatin1String("off"), Qt::CaseInsensitive) == 0)
        return false;
    fail(error, badValue(option, *given, QStringLiteral("on or off")));
    return std::nullopt;
}

// "dtr:MS" or "rts:MS", MS from 1 to the longest pulse.
std::optional<serial::LinePulse> pulseFrom(const QString &given, QString &error) {
    const QString line = given.section(u':', 0, 0).toLower();
    bool ok = false;
    const int ms = given.section(u':', 1).toInt(&ok, 10);
    if (ok && ms > 0 && ms <= serial::kLongestPulse.count() && given.count(u':') == 1 &&
        (line == QLatin1String("dtr") || line == QLatin1String("rts")))
        return serial::LinePulse{line == QLatin1String("dtr") ? serial::ModemLine::Dtr
                                                              : serial::ModemLine::Rts,
                                 std::chrono::milliseconds(ms)};
    fail(error, badValue(QStringLiteral("pulse"), given,
                         QStringLiteral("dtr:MS or rts:MS, MS from 1 to %1")
                             .arg(serial::kLongestPulse.count())));
    return std::nullopt;
}

void modemLinesFrom(const LineArguments &given, serial::PortConfig &config, QString &error) {
    config.dtr = levelFrom(QStringLiteral("dtr"), given.dtr, error).value_or(true);
    config.rts = levelFrom(QStringLiteral("rts"), given.rts, error);
    if (!given.pulse)
        return;
    config.pulse = pulseFrom(*given.pulse, error);
    // A pulse raises its line again at its end: a line held off has none to give.
    const bool dtrPulse = config.pulse && config.pulse->line == serial::ModemLine::Dtr;
    if (config.pulse && !(dtrPulse ? config.dtr : config.rts.value_or(true)))
        fail(error, QStringLiteral("--pulse %1 needs the line on, not --%2 off")
                        .arg(*given.pulse, dtrPulse ? "dtr" : "rts"));
}

Checked<QByteArray> bytesOrNone(QByteArray bytes, const QString &option, const QString &text) {
    if (bytes.isEmpty())
        return {{}, badValue(option, text, QStringLiteral("no bytes to send"))};
    return {std::move(bytes), {}};
}

} // namespace

QList<QCommandLineOption> lineOptions() {
    return {
        {QStringLiteral("baud"), QStringLiteral("The baud rate; any decimal rate."),
         QStringLiteral("RATE")},
        {QStringLiteral("data"), QStringLiteral("Data bits: 4, 5, 6, 7 or 8."),
         QStringLiteral("BITS")},
        {QStringLiteral("parity"), QStringLiteral("Parity: none, odd, even, mark or space."),
         QStringLiteral("PARITY")},
        {QStringLiteral("stop"), QStringLiteral("Stop bits: 1, 1.5 or 2."), QStringLiteral("BITS")},
        {QStringLiteral("flow"),
         QStringLiteral("Flow control: none, hardware (RTS/CTS) or software (XON/XOFF)."),
         QStringLiteral("FLOW")},
        {QStringLiteral("rs485"), QStringLiteral("Asks the driver for RS485 mode.")},
        {QStringLiteral("dtr"),
         QStringLiteral("The level DTR holds while the port is open: on (the default) or off."),
         QStringLiteral("on|off")},
        {QStringLiteral("rts"),
         QStringLiteral("The level RTS holds while the port is open: on or off; by default as "
                        "the open leaves it."),
         QStringLiteral("on|off")},
        {QStringLiteral("pulse"),
         QStringLiteral("Drops DTR or RTS for MS milliseconds (at most 10000) after the open, "
                        "before anything is sent or captured: a board's reset."),
         QStringLiteral("dtr:MS|rts:MS")},
    };
}

LineArguments lineArguments(const QCommandLineParser &parser) {
    const auto value = [&](const char *name) -> std::optional<QString> {
        const QString option = QLatin1String(name);
        return parser.isSet(option) ? std::optional(parser.value(option)) : std::nullopt;
    };
    return {value("baud"), value("data"), value("parity"),
            value("stop"), value("flow"), parser.isSet(QStringLiteral("rs485")),
            value("dtr"),  value("rts"),  value("pulse")};
}

Checked<serial::PortConfig> portConfigFrom(const QString &portName, const LineArguments &given,
                                           const Stored &stored, serial::PortProfile profile) {
    Checked<serial::PortConfig> result;
    serial::PortConfig &config = result.value;
    QString &error = result.error;
    config.portName = portName;
    // A network name that cannot be used is a mistake in the command, found before any open.
    if (const auto address = serial::networkAddress(portName); address && !address->valid())
        fail(error,
             QStringLiteral("Bad port %1: %2").arg(serial::elided(portName, 80), address->error));
    config.rs485 = given.rs485;
    config.profile = profile;
    config.line.baud = baudFrom(given.baud, stored.baud, error);
    config.line.dataBitsIndex = choiceIndex(kDataBits, given.dataBits, stored.dataBits, error);
    config.line.stopBitsIndex = choiceIndex(kStopBits, given.stopBits, stored.stopBits, error);
    config.line.parityIndex = choiceIndex(kParity, given.parity, stored.parity, error);
    config.line.flowIndex = choiceIndex(kFlow, given.flow, stored.flow, error);
    modemLinesFrom(given, config, error);
    return result;
}

Checked<double> sendDelayFrom(const std::optional<QString> &given, const Stored &stored) {
    constexpr double kChunks = transmit::kWholeChunks;
    if (given) {
        bool ok = false;
        const double ms = given->toDouble(&ok);
        if (ok && std::isfinite(ms) && ((ms >= 0 && ms <= kMaxMilliseconds) || ms == kChunks))
            return {ms, {}};
        return {kChunks,
                badValue(QStringLiteral("delay"), *given,
                         QStringLiteral("-1, or %1 milliseconds").arg(millisecondsRange()))};
    }
    // The window stores its delay as an integer; a text that is none leaves the default.
    bool ok = false;
    const int storedMs = stored.delay ? stored.delay->trimmed().toInt(&ok, 10) : 0;
    return {ok ? double(storedMs) : kChunks, {}};
}

QString reportOpen(const QString &error, const serial::OpenedPort &opened, bool modemLinesGiven) {
    if (!error.isEmpty()) {
        if (error == opened.error && !opened.reason.isEmpty())
            return error + QStringLiteral(": ") + opened.reason;
        return error;
    }
    if (opened.lineSettingsNotSent)
        printWarning(QStringLiteral("line settings are not sent over a raw TCP port"));
    if (opened.lineSettingsUnconfirmed)
        printWarning(QStringLiteral("the server did not answer the Com Port option: the line "
                                    "settings are not confirmed"));
    if (opened.rs485Refused)
        printWarning(QStringLiteral("Unable to pass data into driver"));
    for (const QString &kept : opened.kept)
        printWarning(QStringLiteral("the port kept ") + kept);
    if (modemLinesGiven && opened.noModemLines)
        printWarning(QStringLiteral("the port has no modem lines: DTR and RTS stay as they are"));
    return {};
}

Checked<QByteArray> bytesFromHex(const QString &text) {
    if (std::optional<QByteArray> bytes = transmit::bytesFromHex(text))
        return {std::move(*bytes), {}};
    if (text.trimmed().isEmpty())
        return bytesOrNone({}, QStringLiteral("hex"), text);
    return {{},
            badValue(QStringLiteral("hex"), text,
                     QStringLiteral("pairs of hex digits, with or without blanks and 0x"))};
}

Checked<QByteArray> bytesFromText(const QString &text) {
    if (std::optional<QByteArray> bytes = transmit::bytesFromEscapedText(text))
        return bytesOrNone(std::move(*bytes), QStringLiteral("text"), text);
    return {{},
            badValue(QStringLiteral("text"), text,
                     QStringLiteral("characters and the escapes \\r \\n \\t \\\\ \\xHH"))};
}

CaptureLocation captureLocationFrom(const std::optional<QString> &directory,
                                    const std::optional<QString> &name, const Stored &stored,
                                    const QString &home) {
    const auto pick = [](const std::optional<QString> &given,
                         const std::optional<QString> &storedText, const QString &fallback) {
        if (given)
            return *given;
        return storedText && !storedText->isEmpty() ? *storedText : fallback;
    };
    return {pick(directory, stored.dropDirectory, home),
            pick(name, stored.captureFile, QStringLiteral("data000000.bin"))};
}

} // namespace cli
