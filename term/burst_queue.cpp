#include "term/burst_queue.h"

#include <algorithm>

namespace term {

void BurstQueue::push(const CapturedBurst &burst) {
    const qint64 size = std::min(burst.size, m_capacity);
    HeldBurst held{QByteArray(burst.data + (burst.size - size), size), burst.when};
    const std::lock_guard lock(m_mutex);
    m_dropped += burst.size - size;
    m_held += size;
    m_bursts.push_back(std::move(held));
    while (m_held > m_capacity) {
        m_held -= m_bursts.front().bytes.size();
        m_dropped += m_bursts.front().bytes.size();
        m_bursts.pop_front();
    }
}

std::vector<HeldBurst> BurstQueue::take(qint64 most, qint64 &dropped) {
    std::vector<HeldBurst> taken;
    const std::lock_guard lock(m_mutex);
    qint64 size = 0;
    while (!m_bursts.empty() && (taken.empty() || size + m_bursts.front().bytes.size() <= most)) {
        size += m_bursts.front().bytes.size();
        taken.push_back(std::move(m_bursts.front()));
        m_bursts.pop_front();
    }
    m_held -= size;
    dropped = m_dropped;
    m_dropped = 0;
    return taken;
}

void BurstQueue::clear() {
    const std::lock_guard lock(m_mutex);
    m_bursts.clear();
    m_held = 0;
    m_dropped = 0;
}

} // namespace term
