#include "transmit/send_logic.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace transmit {

std::int64_t delayNanoseconds(double delayMs) {
    // Written so that NaN, too, waits nothing.
    if (!(delayMs > 0))
        return 0;
    constexpr double kLongest = double(std::numeric_limits<std::int64_t>::max() / 2);
    return std::int64_t(std::min(delayMs * 1e6, kLongest));
}

void WaitNanoseconds(std::int64_t ns, const std::atomic<bool> &running) {
    using Clock = std::chrono::steady_clock;
    if (ns <= 0)
        return;
    const Clock::time_point end = Clock::now() + std::chrono::nanoseconds(ns);
    while (Clock::now() < end) {
        if (!running.load(std::memory_order_relaxed))
            return;
    }
}

ProgressScale::ProgressScale(qint64 length) {
    constexpr qint64 kIntMax = std::numeric_limits<int>::max();
    const qint64 bytes = std::max<qint64>(length, 0);
    m_divisor = bytes <= kIntMax ? 1 : (bytes + kIntMax - 1) / kIntMax;
    // An empty file gets an empty bar: a range of 0 to 0 would make it a busy indicator.
    m_maximum = std::max(1, int(bytes / m_divisor));
}

int ProgressScale::position(qint64 done) const {
    return int(std::clamp<qint64>(done / m_divisor, 0, m_maximum));
}

QString sendTitle(qint64 sent, qint64 fileLength) {
    return QStringLiteral("Kalvosan - Bytes send: %1 (%2)").arg(sent).arg(fileLength);
}

QString tempFilePath(const QString &directory) {
    QString path = directory;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path + QStringLiteral("temp.bin");
}

} // namespace transmit
