// What a terminal shows of the device's bytes, and how its keys become bytes for the device:
// the line-end maps both ways, time stamps before each line, and the hex view with its line
// breaks after a silence. Pure: bytes and arrival times in, text out; the front-ends (the
// command line's terminal and the window's) only write the text where it is seen.
#pragma once

#include "loader/arrival_times.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <chrono>
#include <optional>

namespace term {

using arrival::WallClock;

enum class LineEnd { Cr, Lf, CrLf };
// "cr", "lf", "crlf" (any case); none for another text.
std::optional<LineEnd> lineEndFromName(const QString &name);
QByteArray lineEndBytes(LineEnd end);

// The bytes typed, with every `enter` byte (CR from a keyboard, LF from a pipe's lines)
// replaced by the line end asked for.
QByteArray mapOutgoing(const char *data, qint64 size, char enter, LineEnd end);

enum class Stamps { Off, Wall, SinceStart, SincePrevious };
// "wall", "start", "delta"; none for another text.
std::optional<Stamps> stampsFromName(const QString &name);
// Off, wall clock, since the start, since the previous line, and round again.
Stamps nextStamps(Stamps stamps);
QString stampsName(Stamps stamps);

// "[12:07:23.123] " in local time, "[3.141] " in seconds.
QByteArray stampText(Stamps stamps, WallClock::time_point when, WallClock::time_point since);

inline constexpr int kHexBytesPerLine = 16;

struct ViewSettings {
    bool hex = false;
    Stamps stamps = Stamps::Off;
    // How received line ends (CR LF, a lone CR, a lone LF) are shown; none: as they came.
    std::optional<LineEnd> mapIn;
    // The hex view starts a new line after this much silence.
    std::chrono::milliseconds gap{50};
    // What ends the lines the view makes itself (hex lines, a line cut by a switch): "\r\n" on
    // a terminal in raw mode, whose output is not translated.
    QByteArray newline = "\n";
};

class ScreenView {
public:
    ScreenView(const ViewSettings &settings, WallClock::time_point start);

    // The text of a burst that came at `when`.
    QByteArray render(const char *data, qint64 size, WallClock::time_point when);
    // Nothing is changed on the way: the bytes may go to the screen as they are.
    bool passesThrough() const {
        return !m_settings.hex && m_settings.stamps == Stamps::Off && !m_settings.mapIn;
    }

    // A switch ends the line shown so far (what the returned text holds), so that text and
    // hex, or stamped and plain lines, never share one.
    QByteArray setHex(bool on);
    QByteArray setStamps(Stamps stamps);
    const ViewSettings &settings() const { return m_settings; }
    // Ends the line shown so far, if any, for a line of another's (a note between the device's
    // lines): the text to show, and the next byte starts a line of its own.
    QByteArray endLine();

private:
    void renderText(const char *data, qint64 size, WallClock::time_point when, QByteArray &out);
    void renderHex(const char *data, qint64 size, WallClock::time_point when, QByteArray &out);
    void putText(char byte, WallClock::time_point when, QByteArray &out);
    void stamp(WallClock::time_point when, QByteArray &out);

    ViewSettings m_settings;
    WallClock::time_point m_start;
    WallClock::time_point m_previousLine;
    WallClock::time_point m_lastByte;
    bool m_atLineStart = true;
    bool m_afterCr = false;      // the last byte shown was a CR
    bool m_mapPendingCr = false; // mapIn: a CR came last, its LF may follow in the next burst
    int m_hexColumn = 0;
};

} // namespace term
