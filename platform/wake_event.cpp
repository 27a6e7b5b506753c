#include "platform/wake_event.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

WakeEvent::WakeEvent() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeEvent::~WakeEvent() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void WakeEvent::signal() {
    const std::uint64_t one = 1;
    // A counter at its limit is readable already: a failed write loses no wake-up.
    if (m_fd >= 0) [[maybe_unused]]
        const ssize_t n = ::write(m_fd, &one, sizeof one);
}

void WakeEvent::clear() {
    std::uint64_t count = 0;
    if (m_fd >= 0) [[maybe_unused]]
        const ssize_t n = ::read(m_fd, &count, sizeof count);
}

int pollWith(int own, short events, WakeSet *wake, int timeoutMs) {
    // poll() passes over a negative descriptor: the array keeps its shape.
    pollfd p[1 + WakeSet::kMost] = {{own, events, 0}, {-1, POLLIN, 0}, {-1, POLLIN, 0}};
    if (wake) {
        for (int i = 0; i < WakeSet::kMost; ++i) {
            p[1 + i].fd = wake->fds[i];
            wake->fired[i] = false;
        }
    }
    const int n = ::poll(p, wake ? 1 + WakeSet::kMost : 1, timeoutMs);
    if (n < 0)
        return errno == EINTR ? 0 : -1;
    for (int i = 0; wake && i < WakeSet::kMost; ++i)
        wake->fired[i] = p[1 + i].revents != 0;
    return n == 0 ? 0 : p[0].revents;
}

} // namespace platform
