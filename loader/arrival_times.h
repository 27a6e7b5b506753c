// The arrival times of a capture, kept beside it in "<capture>.times" so that the capture
// itself stays byte for byte what the device sent: one text line per burst the receive
// worker wrote,
//     <offset of the burst's first byte in the capture file> TAB <wall-clock time> LF
// with the time in ISO 8601 with microseconds and the UTC offset, and
//     <offset> TAB <time> TAB reconnected LF
// each time the device came back after an unplug. The capture writes it; the hex pane's
// tooltip and the command line's hex listing read it.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <chrono>
#include <limits>
#include <optional>

namespace arrival {

using WallClock = std::chrono::system_clock;

QString sidecarPath(const QString &capturePath);

// "2026-12-07T14:03:05.123456+01:00", in the local time zone.
QString isoTime(WallClock::time_point when);
QByteArray line(qint64 offset, WallClock::time_point when, bool reconnected = false);

struct Burst {
    qint64 offset = 0;
    QString time;
    bool reconnected = false;
};

// A line of a sidecar; none for a line that is not one (a torn last line, say).
std::optional<Burst> parseLine(const QByteArray &text);
// The burst that holds the byte at `offset` of the capture whose times file is at `path`: the
// last one starting at or before it. The file is searched by its offsets, which grow from line
// to line, reading a few small pieces of it, so that a file of any size costs no memory and
// little time; it is opened without blocking, and anything but a plain file (a FIFO) gives none.
std::optional<Burst> lookup(const QString &path, qint64 offset);

// What the times file says of the bytes from `from` up to `to` of its capture: the burst that
// holds the first of them (or, where none does, such as a header, the first burst that starts
// among them) and the returns of the device among them. Bounded as lookup is.
struct StretchTimes {
    std::optional<Burst> first;
    QList<Burst> reconnects;
};
StretchTimes lookupStretch(const QString &path, qint64 from, qint64 to);

// The bursts of a times file in file order, read a bounded piece at a time as the file grows
// (a capture writing it): only whole lines count.
class SidecarStream {
public:
    explicit SidecarStream(const QString &path);
    const QString &path() const { return m_path; }
    // Whether there is a plain file at the path now.
    bool exists() const;
    // The next burst of a whole line, or none when no whole line follows yet within the first
    // `readLimit` bytes of the file (see bytesFor).
    std::optional<Burst> next(qint64 readLimit = std::numeric_limits<qint64>::max());
    // Reads from the start again (a capture begun anew under the same name).
    void restart();

private:
    bool fill(qint64 readLimit);

    QString m_path;
    QByteArray m_encodedPath; // looked at for every line of a listing
    qint64 m_position = 0;    // of the file, where the buffer's bytes end
    QByteArray m_buffer;
    qsizetype m_at = 0;
    bool m_skipping = false; // in a line too long to be one
};

// The most a times file can hold for the first `captureBytes` bytes of its capture: a line per
// burst of at least one byte, and a reconnected line before each. A reader that needs no
// later burst reads no further, however large a garbled file is.
qint64 bytesFor(qint64 captureBytes);

// Every burst of a small times file (tests, listings of short captures).
QList<Burst> readSidecar(const QString &path);

} // namespace arrival
