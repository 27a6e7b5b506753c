#include "transmit/send_logic.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

namespace transmit {

std::int64_t delayNanoseconds(double delayMs) {
    // Written so that NaN, too, waits nothing.
    if (!(delayMs > 0))
        return 0;
    constexpr double kLongest = double(std::numeric_limits<std::int64_t>::max() / 2);
    return std::int64_t(std::min(delayMs * 1e6, kLongest));
}

std::int64_t steadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void WaitUntil(std::int64_t dueNs, const std::atomic<bool> &running) {
    constexpr std::int64_t kLongestSleep = 10'000'000;
    for (;;) {
        if (!running.load(std::memory_order_relaxed))
            return;
        const std::int64_t left = dueNs - steadyNanoseconds();
        if (left <= 0)
            return;
        if (left > kSpinNanoseconds)
            std::this_thread::sleep_for(
                std::chrono::nanoseconds(std::min(left - kSpinNanoseconds, kLongestSleep)));
    }
}

void WaitNanoseconds(std::int64_t ns, const std::atomic<bool> &running) {
    if (ns > 0)
        WaitUntil(steadyNanoseconds() + ns, running);
}

std::int64_t SendSchedule::usualWriteNs() const {
    const int n = int(std::min<std::int64_t>(m_timed, kRecent));
    if (n == 0)
        return 0;
    std::array<std::int64_t, kRecent> recent = m_recent;
    std::nth_element(recent.begin(), recent.begin() + n / 2, recent.begin() + n);
    return recent[std::size_t(n / 2)];
}

bool SendSchedule::byteDone(std::int64_t doneNs, std::int64_t pauseNs) {
    pauseNs = std::max<std::int64_t>(pauseNs, 0);
    bool late = false;
    // The first byte of a schedule went when it could, not at a due time: its write (often the
    // slowest, with cold caches) says nothing of how long a write takes.
    if (m_scheduled) {
        // Judged by the writes before it: the first one timed, when slow, is late too.
        const std::int64_t took = std::max<std::int64_t>(doneNs - m_dueNs, 0);
        late = took - usualWriteNs() > std::int64_t(double(m_pauseNs) * kLateShare);
        m_recent[std::size_t(m_timed++ % kRecent)] = took;
    }
    m_dueNs = (m_scheduled && !late ? m_dueNs : doneNs - usualWriteNs()) + pauseNs;
    m_pauseNs = pauseNs;
    m_scheduled = true;
    return late;
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
