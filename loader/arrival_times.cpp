#include "loader/arrival_times.h"

#include <QFile>

#include <algorithm>
#include <ctime>

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

QList<Burst> readSidecar(const QString &path) {
    SidecarReader reader(path);
    return reader.bursts();
}

void SidecarReader::setPath(const QString &path) {
    m_path = path;
    reset();
}

void SidecarReader::reset() {
    m_firstLine.clear();
    m_read = 0;
    m_bursts.clear();
}

const QList<Burst> &SidecarReader::bursts() {
    QFile file(m_path);
    if (m_path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        reset();
        return m_bursts;
    }
    if (file.size() < m_read || (m_read > 0 && file.readLine() != m_firstLine))
        reset();
    if (!file.seek(m_read))
        return m_bursts;
    const QByteArray added = file.readAll();
    qsizetype from = 0;
    // Only whole lines: the capture may be writing the last one right now.
    for (qsizetype end = added.indexOf('\n'); end >= 0; end = added.indexOf('\n', from)) {
        if (m_read == 0 && from == 0)
            m_firstLine = added.left(end + 1);
        if (const auto burst = parseLine(added.mid(from, end - from)))
            m_bursts.append(*burst);
        from = end + 1;
    }
    m_read += from;
    return m_bursts;
}

const Burst *burstAt(const QList<Burst> &bursts, qint64 offset) {
    const auto after = std::upper_bound(bursts.begin(), bursts.end(), offset,
                                        [](qint64 o, const Burst &b) { return o < b.offset; });
    return after == bursts.begin() ? nullptr : &*(after - 1);
}

} // namespace arrival
