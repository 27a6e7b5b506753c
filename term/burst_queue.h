// The bursts a screen has not shown yet, handed from the capture worker to the thread that
// shows them a few times a second. Bounded: when the screen falls behind, the oldest bursts
// go (the log, written by the worker itself, keeps every byte).
#pragma once

#include "capture/capture_session.h"

#include <QByteArray>
#include <deque>
#include <mutex>
#include <vector>

namespace term {

struct HeldBurst {
    QByteArray bytes;
    arrival::WallClock::time_point when;
};

class BurstQueue {
public:
    explicit BurstQueue(qint64 capacity) : m_capacity(capacity) {}

    // Worker: keeps a copy of the burst (of its last `capacity` bytes at most).
    void push(const CapturedBurst &burst);
    // Owner: the bursts held, oldest first, up to about `most` bytes; and how many bytes were
    // dropped since the last take.
    std::vector<HeldBurst> take(qint64 most, qint64 &dropped);
    void clear();

private:
    const qint64 m_capacity;
    std::mutex m_mutex;
    std::deque<HeldBurst> m_bursts;
    qint64 m_held = 0;
    qint64 m_dropped = 0;
};

} // namespace term
