// The terminal's pure parts: the views of what the device sends (line-end map, time stamps,
// hex with its idle-gap breaks), the keys' line end and escape key, and the bounded queue
// of what goes to the port.
#include "term/escape_keys.h"
#include "term/screen_view.h"
#include "term/terminal_outbox.h"
#include "tests/test_pty.h"

#include <QDateTime>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using term::ScreenView;
using term::ViewSettings;
using term::WallClock;

const WallClock::time_point kStart = WallClock::time_point(std::chrono::hours(480000));

QByteArray render(ScreenView &view, const QByteArray &bytes, std::chrono::milliseconds at) {
    return view.render(bytes.constData(), bytes.size(), kStart + at);
}

TEST(TermView, MapsLineEndsAcrossBurstsAndStampsEachLine) {
    ViewSettings settings;
    settings.mapIn = term::LineEnd::Lf;
    settings.stamps = term::Stamps::SinceStart;
    ScreenView view(settings, kStart);
    // CR LF split between two bursts is one line end; a lone CR and a lone LF are one each.
    EXPECT_EQ(render(view, "ab\r", 1500ms), "[1.500] ab\n");
    EXPECT_EQ(render(view, "\ncd\rx\n\n", 2250ms), "[2.250] cd\n[2.250] x\n[2.250] \n");

    // Since the previous line; the stamp comes with a line's first byte, not its end.
    settings.mapIn.reset();
    settings.stamps = term::Stamps::SincePrevious;
    ScreenView delta(settings, kStart);
    EXPECT_EQ(render(delta, "one\r\n", 100ms), "[0.100] one\r\n");
    EXPECT_EQ(render(delta, "tw", 350ms), "[0.250] tw");
    EXPECT_EQ(render(delta, "o\r\n", 900ms), "o\r\n");
    // Switching ends a line cut short, so that stamped and plain lines never share one.
    EXPECT_EQ(render(delta, "part", 1000ms), "[0.650] part");
    EXPECT_EQ(delta.setStamps(term::Stamps::Off), "\n");
    EXPECT_TRUE(delta.passesThrough());
    EXPECT_EQ(render(delta, "plain\r\n", 1100ms), "plain\r\n");

    // The wall clock in local time, with milliseconds.
    const auto when = kStart + 7123ms;
    const QString local =
        QDateTime::fromMSecsSinceEpoch(
            std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count())
            .toString("HH:mm:ss.zzz");
    EXPECT_EQ(term::stampText(term::Stamps::Wall, when, kStart), "[" + local.toLatin1() + "] ");
}

TEST(TermView, HexLinesHoldSixteenBytesAndBreakAfterTheGap) {
    ViewSettings settings;
    settings.hex = true;
    settings.gap = 50ms;
    settings.newline = "\r\n";
    settings.stamps = term::Stamps::SinceStart;
    ScreenView view(settings, kStart);
    QByteArray seventeen;
    for (int i = 0; i < 17; ++i)
        seventeen += char(0xF0 + (i & 15));
    EXPECT_EQ(render(view, seventeen, 10ms),
              "[0.010] F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF\r\n[0.010] F0");
    // Within the gap the line goes on; after it, a new line starts with the new burst.
    EXPECT_EQ(render(view, "\x01", 59ms), " 01");
    EXPECT_EQ(render(view, "\x02", 109ms), "\r\n[0.109] 02");
    // Back to text: the hex line is ended first.
    EXPECT_EQ(view.setHex(false), "\r\n");
    EXPECT_EQ(render(view, "A", 120ms), "[0.120] A");
}

TEST(TermKeys, EscapeKeyCommandsAndLineEnds) {
    term::EscapeKeys keys(term::kDefaultEscape);
    using Kind = term::KeyAction::Kind;
    EXPECT_EQ(keys.feed(0x03).kind, Kind::Send) << "Ctrl-C goes to the device";
    EXPECT_EQ(keys.feed(0x14).kind, Kind::Held);
    EXPECT_TRUE(keys.pending());
    const term::KeyAction quit = keys.feed('q');
    EXPECT_EQ(quit.kind, Kind::Command);
    EXPECT_EQ(quit.byte, 'q');
    keys.feed(0x14);
    const term::KeyAction twice = keys.feed(0x14);
    EXPECT_EQ(twice.kind, Kind::Send) << "Ctrl-T twice sends one";
    EXPECT_EQ(twice.byte, 0x14);
    EXPECT_EQ(keys.feed('q').kind, Kind::Send);
    // No escape key (a pipe): everything is sent.
    term::EscapeKeys none(std::nullopt);
    EXPECT_EQ(none.feed(0x14).kind, Kind::Send);

    EXPECT_EQ(term::escapeKeyFromName("]"), char(0x1d));
    EXPECT_EQ(term::escapeKeyFromName("a"), char(0x01));
    EXPECT_EQ(term::escapeKeyFromName("1"), std::nullopt);
    EXPECT_EQ(term::escapeKeyFromName("ab"), std::nullopt);
    EXPECT_EQ(term::escapeKeyName(0x1d), "Ctrl-]");

    EXPECT_EQ(term::mapOutgoing("at\rx\n", 5, '\r', term::LineEnd::CrLf), "at\r\nx\n");
    EXPECT_EQ(term::mapOutgoing("a\nb\n", 4, '\n', term::LineEnd::Cr), "a\rb\r");
    EXPECT_EQ(term::lineEndFromName("CRLF"), term::LineEnd::CrLf);
    EXPECT_EQ(term::lineEndFromName("lfcr"), std::nullopt);
}

// The queue takes what fits and no more; the port gets bytes and commands in their order,
// and a device that takes part of a write keeps the rest queued.
TEST(TermOutbox, BoundedAndInOrderOnARealPort) {
    testsupport::Pty device;
    serial::PortConfig config;
    config.portName = device.slavePath();
    config.line = {115200, 4, 0, 0, 0};
    serial::OpenedPort opened = serial::openPort(config);
    ASSERT_TRUE(opened) << opened.error.toStdString();
    term::TerminalOutbox outbox(8);
    EXPECT_EQ(outbox.queueBytes("abcde", 5), 5);
    outbox.queueCommand(term::PortCommand::DtrOff);
    EXPECT_EQ(outbox.queueBytes("fghij", 5), 3) << "the bound";
    EXPECT_EQ(outbox.room(), 0);
    const std::atomic<bool> running{true};
    qint64 written = 0;
    std::vector<term::CommandDone> done;
    EXPECT_EQ(outbox.serve(*opened.port, running, written, done), PortService::Done);
    EXPECT_EQ(written, 8);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].command, term::PortCommand::DtrOff);
    EXPECT_FALSE(done[0].done) << "a pty has no modem lines";
    EXPECT_EQ(device.read(8), "abcdefgh");
    EXPECT_EQ(outbox.room(), 8);
}

} // namespace
