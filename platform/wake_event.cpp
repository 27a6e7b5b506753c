#include "platform/wake_event.h"

#include <cstdint>
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

} // namespace platform
