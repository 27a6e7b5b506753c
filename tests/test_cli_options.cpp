// kalvosan-cli's settings from its arguments and the window's stored settings, called
// directly: what the user leaves out takes the stored value, else the window's default.
#include "cli/stored.h"
#include "cli/transfer_options.h"
#include "platform/files.h"

#include <QSettings>
#include <gtest/gtest.h>

#include <chrono>
#include <tuple>
#include <utility>

namespace {

using cli::LineArguments;
using cli::Stored;

// {baud, data bits, stop bits, parity, flow} as the window's combo box indices.
std::tuple<std::uint32_t, int, int, int, int> line(const cli::Checked<serial::PortConfig> &c) {
    EXPECT_EQ(c.error, QString());
    const serial::LineSettings &l = c.value.line;
    return {l.baud, l.dataBitsIndex, l.stopBitsIndex, l.parityIndex, l.flowIndex};
}

cli::Checked<serial::PortConfig> config(const LineArguments &given, const Stored &stored = {}) {
    return cli::portConfigFrom("ttyUSB0", given, stored, serial::PortProfile::Send);
}

TEST(CliOptions, LeftOutLineOptionsTakeTheStoredSettingsElseTheWindowsDefaults) {
    // 9600 baud, "8", "1", "None", "None"
    EXPECT_EQ(line(config({})), std::make_tuple(9600u, 4, 0, 2, 2));
    // Stored texts select by prefix, in any case, as the window restores them.
    Stored stored;
    stored.baud = "57600";
    stored.dataBits = "7";
    stored.stopBits = "2";
    stored.parity = "od";
    stored.flow = "HARD";
    EXPECT_EQ(line(config({}, stored)), std::make_tuple(57600u, 3, 2, 3, 0));
    // A stored text that selects nothing keeps the default.
    stored.parity = "sometimes";
    EXPECT_EQ(std::get<3>(line(config({}, stored))), 2);
    // Given options win.
    const LineArguments given{"750000", "5", "Space", "1", "software", true};
    const auto chosen = config(given, stored);
    EXPECT_EQ(line(chosen), std::make_tuple(750000u, 1, 0, 4, 1));
    EXPECT_TRUE(chosen.value.rs485);
    EXPECT_EQ(chosen.value.portName, "ttyUSB0");
    EXPECT_EQ(chosen.value.profile, serial::PortProfile::Send);
}

TEST(CliOptions, ValuesOutsideTheAllowedOnesAreBadUsage) {
    using A = LineArguments;
    const std::tuple<std::optional<QString> A::*, const char *, const char *> bad[] = {
        {&A::baud, "0", "--baud"},       {&A::baud, "96OO", "--baud"},
        {&A::baud, "+9600", "--baud"},   {&A::dataBits, "3", "--data"},
        {&A::dataBits, "9", "--data"},   {&A::parity, "e", "--parity"},
        {&A::stopBits, "1.6", "--stop"}, {&A::flow, "dsr", "--flow"},
    };
    for (const auto &[member, value, option] : bad) {
        LineArguments given;
        given.*member = QString(value);
        EXPECT_TRUE(config(given).error.contains(QLatin1String(option))) << option << value;
    }
    for (const char *delay : {"-2", "-0.5", "fast", "nan", "inf", ""})
        EXPECT_FALSE(cli::sendDelayFrom(QString(delay), {}).error.isEmpty()) << delay;
}

TEST(CliOptions, TheDelayAndTheCaptureFileFallBackToTheStoredOnes) {
    Stored stored;
    EXPECT_EQ(cli::sendDelayFrom(std::nullopt, stored).value, -1);
    EXPECT_EQ(cli::sendDelayFrom(QString("0.25"), stored).value, 0.25);
    stored.delay = " 3 ";
    EXPECT_EQ(cli::sendDelayFrom(std::nullopt, stored).value, 3);
    EXPECT_EQ(cli::sendDelayFrom(QString("-1"), stored).value, -1);
    stored.delay = "3.5"; // the window stores integers; anything else leaves the default
    EXPECT_EQ(cli::sendDelayFrom(std::nullopt, stored).value, -1);

    const auto where = [&](std::optional<QString> dir, std::optional<QString> name) {
        const cli::CaptureLocation l = cli::captureLocationFrom(dir, name, stored, "/home/u");
        return l.directory + '|' + l.name;
    };
    EXPECT_EQ(where({}, {}), "/home/u|data000000.bin");
    stored.dropDirectory = "/srv/drop";
    stored.captureFile = "log0042.vmf";
    EXPECT_EQ(where({}, {}), "/srv/drop|log0042.vmf");
    EXPECT_EQ(where(QString("."), QString("x1.bin")), ".|x1.bin");
}

TEST(CliOptions, BytesGivenAsHexOrAsTextWithEscapes) {
    const std::pair<const char *, QByteArray> hex[] = {
        {"01 02 FF", QByteArray("\x01\x02\xFF")},
        {"0102ff", QByteArray("\x01\x02\xFF")},
        {" 0x01\t0X02  0xfF ", QByteArray("\x01\x02\xFF")},
        {"0x0102 00", QByteArray("\x01\x02\x00", 3)},
    };
    for (const auto &[given, bytes] : hex) {
        const auto parsed = cli::bytesFromHex(given);
        EXPECT_EQ(parsed.error, QString()) << given;
        EXPECT_EQ(parsed.value, bytes) << given;
    }
    for (const char *bad : {"1", "01 2", "012", "0x", "0x1", "0g", "x01", "01,02", "", " "})
        EXPECT_FALSE(cli::bytesFromHex(bad).error.isEmpty()) << bad;

    const std::pair<const char *, QByteArray> text[] = {
        {"AT\\r\\n", "AT\r\n"},
        {"a\\\\b\\tc", "a\\b\tc"},
        {"\\x00\\xfF\\x41", QByteArray("\x00\xff"
                                       "A",
                                       3)},
        {"\u00e9", "\xc3\xa9"},
    };
    for (const auto &[given, bytes] : text) {
        const auto parsed = cli::bytesFromText(QString::fromUtf8(given));
        EXPECT_EQ(parsed.error, QString()) << given;
        EXPECT_EQ(parsed.value, bytes) << given;
    }
    for (const char *bad : {"\\q", "\\0", "\\x4", "\\xg0", "end\\", ""})
        EXPECT_FALSE(cli::bytesFromText(bad).error.isEmpty()) << bad;
}

TEST(CliOptions, ModemLineLevelsAndAPulseOfALineThatIsOn) {
    LineArguments given;
    EXPECT_TRUE(config(given).value.dtr) << "DTR is raised unless asked otherwise";
    EXPECT_FALSE(config(given).value.rts.has_value());
    EXPECT_FALSE(config(given).value.pulse.has_value());
    given.dtr = "off";
    given.rts = "ON";
    given.pulse = "rts:250";
    const auto chosen = config(given);
    EXPECT_EQ(chosen.error, QString());
    EXPECT_FALSE(chosen.value.dtr);
    EXPECT_EQ(chosen.value.rts, true);
    ASSERT_TRUE(chosen.value.pulse.has_value());
    EXPECT_EQ(chosen.value.pulse->line, serial::ModemLine::Rts);
    EXPECT_EQ(chosen.value.pulse->length, std::chrono::milliseconds(250));

    using A = LineArguments;
    const std::tuple<std::optional<QString> A::*, const char *, const char *> bad[] = {
        {&A::dtr, "1", "--dtr"},
        {&A::rts, "high", "--rts"},
        {&A::pulse, "dtr", "--pulse"},
        {&A::pulse, "dtr:0", "--pulse"},
        {&A::pulse, "dtr:10001", "--pulse"},
        {&A::pulse, "cts:5", "--pulse"},
        {&A::pulse, "dtr:5:5", "--pulse"},
        {&A::pulse, "rts:-5", "--pulse"},
    };
    for (const auto &[member, value, option] : bad) {
        LineArguments wrong;
        wrong.*member = QString(value);
        EXPECT_TRUE(config(wrong).error.contains(QLatin1String(option))) << option << value;
    }
    // A pulse brings its line back on at its end: a line held off has no pulse to give.
    given.pulse = "dtr:100";
    EXPECT_TRUE(config(given).error.contains("--dtr off")) << config(given).error.toStdString();
}

TEST(CliOptions, TheStoredSettingsAreTheWindowsFile) {
    {
        QSettings window(QStringLiteral("Brisgal"), QStringLiteral("Kalvosan"));
        window.setValue("Settings/baudrate", "57600");
        window.setValue("Settings/file1", "data000007.bin");
        window.setValue("Settings/mode", QByteArray("\x01\x00\x00\x00", 4));
    }
    const Stored stored = cli::readStored();
    EXPECT_EQ(stored.baud, "57600");
    EXPECT_EQ(stored.captureFile, "data000007.bin");
    EXPECT_EQ(stored.mode2, true);
    EXPECT_FALSE(stored.parity.has_value());
    cli::storeCaptureFile("data000008.bin");
    EXPECT_EQ(cli::readStored().captureFile, "data000008.bin");
    QSettings(QStringLiteral("Brisgal"), QStringLiteral("Kalvosan")).clear();
}

} // namespace

namespace {

// Arguments are decoded as UTF-8 where they are, and every other byte comes back as it was.
TEST(CliOptions, ArgumentsKeepEveryByte) {
    for (const QByteArray &bytes :
         {QByteArray("plain"), QByteArray("caf\xc3\xa9"),
          QByteArray("\xff\xfe"
                     "A"),
          QByteArray("\xc0\xaf overlong"), QByteArray("\xed\xa0\x80 surrogate"),
          QByteArray("\xf4\x90\x80\x80 past Unicode"), QByteArray("torn \xe2\x82"),
          QByteArray("\xf0\x9f\x98\x80 four")})
        EXPECT_EQ(platform::encodeBytes(platform::decodeBytes(bytes)), bytes)
            << bytes.toHex().constData();
    EXPECT_EQ(platform::decodeBytes("caf\xc3\xa9"), QString::fromUtf8("caf\xc3\xa9"));
    EXPECT_EQ(platform::decodeBytes("\xff").size(), 1);
}

} // namespace
