#include "platform/raw_terminal.h"

#include <termios.h>
#include <unistd.h>

namespace platform {

struct RawTerminal::Saved {
    termios mode{};
};

bool isTerminal(int fd) {
    return ::isatty(fd) == 1;
}

RawTerminal::RawTerminal() = default;

RawTerminal::~RawTerminal() {
    restore();
}

bool RawTerminal::enter(int fd) {
    restore();
    if (!isTerminal(fd))
        return false;
    if (!m_saved)
        m_saved = std::make_unique<Saved>();
    if (::tcgetattr(fd, &m_saved->mode) != 0)
        return false;
    termios raw = m_saved->mode;
    ::cfmakeraw(&raw);
    // A read returns as soon as one key is there.
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &raw) != 0)
        return false;
    m_fd = fd;
    return true;
}

void RawTerminal::restore() {
    if (m_fd < 0)
        return;
    // TCSANOW: a terminal whose output is held (Ctrl-S on the other side) must not keep the
    // program from ending.
    ::tcsetattr(m_fd, TCSANOW, &m_saved->mode);
    m_fd = -1;
}

} // namespace platform
