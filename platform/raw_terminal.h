// The user's terminal as a terminal program needs it: every key passed on as its byte (no
// echo, no line editing, no signal from Ctrl-C, no flow control by Ctrl-S / Ctrl-Q) and the
// output left as it is written, then the mode put back exactly as it was found.
#pragma once

#include <memory>

namespace platform {

bool isTerminal(int fd);

class RawTerminal {
public:
    RawTerminal();
    // Puts the mode back if it was changed.
    ~RawTerminal();
    RawTerminal(const RawTerminal &) = delete;
    RawTerminal &operator=(const RawTerminal &) = delete;

    // Raw mode on fd, when it is a terminal; false, with nothing changed, when it is not or its
    // mode could not be set.
    bool enter(int fd);
    // The mode as it was before enter(); idempotent, and safe when the terminal has gone.
    void restore();

private:
    int m_fd = -1;
    struct Saved;
    std::unique_ptr<Saved> m_saved;
};

} // namespace platform
