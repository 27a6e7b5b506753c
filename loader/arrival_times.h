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
// The bursts of a sidecar in file order; empty when there is none.
QList<Burst> readSidecar(const QString &path);

// The bursts of a sidecar that may be growing (a capture writing it): each look reads only the
// whole lines added since the last one, and starts over when the file was begun anew (shorter,
// or another first line: a new capture under the same name).
class SidecarReader {
public:
    explicit SidecarReader(const QString &path = {}) { setPath(path); }
    // Another file (empty: none); what was read of the last is dropped.
    void setPath(const QString &path);
    const QString &path() const { return m_path; }
    // The bursts of the file as it is now.
    const QList<Burst> &bursts();

private:
    void reset();

    QString m_path;
    QByteArray m_firstLine;
    qint64 m_read = 0;
    QList<Burst> m_bursts;
};
// The burst that holds the byte at `offset`: the last one starting at or before it.
const Burst *burstAt(const QList<Burst> &bursts, qint64 offset);

} // namespace arrival
