#include "loader/arrival_times.h"

#include <QFile>

#include <algorithm>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace arrival {

QString sidecarPath(const QString &capturePath) {
    return capturePath + QStringLiteral(".times");
}

QString isoTime(WallClock::time_point when) {
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count();
    const std::time_t seconds = std::time_t(micros / 1000000);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    const long offset = local.tm_gmtoff;
    const long absolute = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%s.%06lld%c%02ld:%02ld", date,
                  static_cast<long long>(micros % 1000000), offset < 0 ? '-' : '+', absolute / 3600,
                  absolute / 60 % 60);
    return QString::fromLatin1(text);
}

QByteArray line(qint64 offset, WallClock::time_point when, bool reconnected) {
    QByteArray text = QByteArray::number(offset) + '\t' + isoTime(when).toLatin1();
    if (reconnected)
        text += "\treconnected";
    return text + '\n';
}

std::optional<Burst> parseLine(const QByteArray &text) {
    const QList<QByteArray> fields = text.split('\t');
    if (fields.size() < 2 || fields.size() > 3 || fields[1].isEmpty())
        return std::nullopt;
    bool ok = false;
    const qint64 offset = fields[0].toLongLong(&ok);
    if (!ok || offset < 0)
        return std::nullopt;
    Burst burst{offset, QString::fromLatin1(fields[1]), false};
    if (fields.size() == 3) {
        if (fields[2] != "reconnected")
            return std::nullopt;
        burst.reconnected = true;
    }
    return burst;
}

namespace {

// A line longer than this is no line of a times file, and its bytes are skipped.
constexpr qsizetype kLongestLine = 256;
// What the reader of a growing file takes at a time.
constexpr qint64 kPiece = 64 * 1024;

// Opens a plain file for reading without ever blocking; -1 for anything else.
int openPlainFile(const QString &path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

qint64 fileSize(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? qint64(st.st_size) : 0;
}

QByteArray readAt(int fd, qint64 position, qint64 size) {
    QByteArray bytes(size, Qt::Uninitialized);
    const ssize_t n = ::pread(fd, bytes.data(), size_t(size), off_t(position));
    bytes.resize(n > 0 ? n : 0);
    return bytes;
}

// How far a look-up searches for the end of a line before it gives up on that stretch: far
// beyond any times line, and a bound on what a file of garbage costs.
constexpr qint64 kLongestSearch = 64 * 1024;

// The position after the first line feed at or after `from`; -1 when none comes within reach.
qint64 afterLineFeed(int fd, qint64 from) {
    for (qint64 at = from; at < from + kLongestSearch; at += kLongestLine) {
        const QByteArray piece = readAt(fd, at, kLongestLine);
        const qsizetype feed = piece.indexOf('\n');
        if (feed >= 0)
            return at + feed + 1;
        if (piece.size() < kLongestLine)
            return -1;
    }
    return -1;
}

// The burst of the first line that is one, starting at or after `from` (a line starts after a
// line feed, or at 0) and before `end`, and the position after it; lines that are none (torn,
// garbled) are passed over.
struct FoundLine {
    Burst burst;
    qint64 start = 0;
    qint64 next = 0;
};
std::optional<FoundLine> lineFrom(int fd, qint64 from, qint64 end) {
    qint64 start = from == 0 ? 0 : afterLineFeed(fd, from - 1);
    while (start >= 0 && start < end) {
        const QByteArray text = readAt(fd, start, kLongestLine + 1);
        const qsizetype feed = text.indexOf('\n');
        if (feed < 0)
            return std::nullopt; // torn (being written) or too long
        if (auto burst = parseLine(text.left(feed)))
            return FoundLine{*burst, start, start + feed + 1};
        start += feed + 1;
    }
    return std::nullopt;
}

// The last line whose burst starts at or before the offset: lines before it all do, lines
// after it none. Each probe takes the first line at or after the middle of what is left.
std::optional<FoundLine> lastAtOrBefore(int fd, qint64 offset) {
    std::optional<FoundLine> found;
    qint64 low = 0;
    qint64 high = fileSize(fd);
    while (low < high) {
        const qint64 middle = low + (high - low) / 2;
        const std::optional<FoundLine> line = lineFrom(fd, middle, high);
        if (line && line->burst.offset <= offset) {
            found = line;
            low = line->next;
        } else {
            high = middle;
        }
    }
    return found;
}

// Lines a look-up of a stretch reads at most.
constexpr int kMostLinesOfAStretch = 64;

} // namespace

std::optional<Burst> lookup(const QString &path, qint64 offset) {
    const int fd = openPlainFile(path);
    if (fd < 0)
        return std::nullopt;
    const std::optional<FoundLine> found = lastAtOrBefore(fd, offset);
    ::close(fd);
    return found ? std::optional(found->burst) : std::nullopt;
}

StretchTimes lookupStretch(const QString &path, qint64 from, qint64 to) {
    StretchTimes times;
    const int fd = openPlainFile(path);
    if (fd < 0)
        return times;
    const qint64 end = fileSize(fd);
    // From the last line before the stretch: its burst may hold the stretch's first byte.
    const std::optional<FoundLine> before = from > 0 ? lastAtOrBefore(fd, from - 1) : std::nullopt;
    qint64 position = before ? before->start : 0;
    for (int lines = 0; lines < kMostLinesOfAStretch; ++lines) {
        const std::optional<FoundLine> line = lineFrom(fd, position, end);
        if (!line || line->burst.offset >= to)
            break;
        position = line->next;
        const Burst &burst = line->burst;
        if (burst.reconnected && burst.offset >= from)
            times.reconnects.append(burst);
        else if (!burst.reconnected && (burst.offset <= from || !times.first))
            times.first = burst;
    }
    ::close(fd);
    return times;
}

SidecarStream::SidecarStream(const QString &path)
    : m_path(path), m_encodedPath(QFile::encodeName(path)) {}

bool SidecarStream::exists() const {
    const int fd = openPlainFile(m_path);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

void SidecarStream::restart() {
    m_position = 0;
    m_buffer.clear();
    m_at = 0;
    m_skipping = false;
}

qint64 bytesFor(qint64 captureBytes) {
    constexpr qint64 kMost = std::numeric_limits<qint64>::max() / (4 * kLongestLine);
    return (2 * std::min(std::max<qint64>(captureBytes, 0), kMost) + 2) * kLongestLine;
}

// Reads the next piece of the file after what the buffer holds, not past the limit; false when
// nothing came. A listing asks for every line once the file has no burst left for it, so a file
// that has not grown past what was read costs a stat alone, and the read takes only what is there.
bool SidecarStream::fill(qint64 readLimit) {
    if (m_position >= readLimit)
        return false;
    struct stat st {};
    if (::stat(m_encodedPath.constData(), &st) != 0 || !S_ISREG(st.st_mode) ||
        qint64(st.st_size) <= m_position)
        return false;
    const int fd = openPlainFile(m_path);
    if (fd < 0)
        return false;
    const QByteArray piece =
        readAt(fd, m_position,
               std::min({kPiece, readLimit - m_position, qint64(st.st_size) - m_position}));
    ::close(fd);
    if (piece.isEmpty())
        return false;
    m_buffer = m_buffer.mid(m_at) + piece;
    m_at = 0;
    m_position += piece.size();
    return true;
}

std::optional<Burst> SidecarStream::next(qint64 readLimit) {
    for (;;) {
        const qsizetype feed = m_buffer.indexOf('\n', m_at);
        if (feed >= 0) {
            const QByteArray text = m_buffer.mid(m_at, feed - m_at);
            m_at = feed + 1;
            const bool skipped = std::exchange(m_skipping, false);
            if (const auto burst = skipped ? std::nullopt : parseLine(text))
                return burst;
            continue;
        }
        // A line longer than any times line is passed over to its end, so that the buffer
        // stays bounded.
        if (m_buffer.size() - m_at > kLongestLine) {
            m_buffer.clear();
            m_at = 0;
            m_skipping = true;
        }
        if (!fill(readLimit))
            return std::nullopt;
    }
}

QList<Burst> readSidecar(const QString &path) {
    SidecarStream stream(path);
    QList<Burst> bursts;
    while (const auto burst = stream.next())
        bursts.append(*burst);
    return bursts;
}

} // namespace arrival
