// A descriptor another thread can make readable, so that a worker waiting in poll() for its
// port wakes at once for work handed to it (a key typed in a terminal) instead of at the end
// of its poll slice; and the set of such descriptors a worker waits on beside its port.
#pragma once

#include <array>

namespace platform {

class WakeEvent {
public:
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent &) = delete;
    WakeEvent &operator=(const WakeEvent &) = delete;

    // -1 when none could be had: the waiter then wakes at the end of its slice only.
    int fd() const { return m_fd; }
    // Makes fd() readable until clear(); from any thread, never blocking.
    void signal();
    void clear();

private:
    int m_fd = -1;
};

// Descriptors a wait also ends for (a wake event, the user's keys): -1 for none. After the wait,
// `fired` tells which became readable or hung up, so that the waiter reads only those.
struct WakeSet {
    static constexpr int kMost = 2;
    std::array<int, kMost> fds{-1, -1};
    std::array<bool, kMost> fired{};
    bool anyFired() const { return fired[0] || fired[1]; }
};

// One poll() of `own` (none when -1) and the set, up to timeoutMs: the events of `own`, 0 when
// none came, -1 when the wait failed (EINTR counts as a time-out). The set's `fired` is set.
int pollWith(int own, short events, WakeSet *wake, int timeoutMs);

} // namespace platform
