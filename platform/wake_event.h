// A descriptor another thread can make readable, so that a worker waiting in poll() for its
// port wakes at once for work handed to it (a key typed in a terminal) instead of at the end
// of its poll slice.
#pragma once

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

} // namespace platform
