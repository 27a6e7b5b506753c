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
    QFile file(path);
    QList<Burst> bursts;
    if (!file.open(QIODevice::ReadOnly))
        return bursts;
    const QByteArray all = file.readAll();
    qsizetype from = 0;
    // Only whole lines: the capture may be writing the last one right now.
    for (qsizetype end = all.indexOf('\n'); end >= 0; end = all.indexOf('\n', from)) {
        if (const auto burst = parseLine(all.mid(from, end - from)))
            bursts.append(*burst);
        from = end + 1;
    }
    return bursts;
}

const Burst *burstAt(const QList<Burst> &bursts, qint64 offset) {
    const auto after = std::upper_bound(bursts.begin(), bursts.end(), offset,
                                        [](qint64 o, const Burst &b) { return o < b.offset; });
    return after == bursts.begin() ? nullptr : &*(after - 1);
}

} // namespace arrival
