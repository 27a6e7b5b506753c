// lrzsz's programs as the device at the far end of a pty: the program runs on one end of a
// socket pair (on a pty master they are many times slower, and their terminal settings would
// change the slave's line under the program tested), and a thread relays between the other end
// and the pty's master, losing and damaging bytes when asked.
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <atomic>
#include <sys/types.h>
#include <thread>

namespace testsupport {

struct LineNoise {
    unsigned dropOneIn = 0; // 0: none lost
    unsigned flipOneIn = 0; // 0: none damaged
    unsigned seed = 1;
    qsizetype chunk = 65536; // at most this much each way every 20 ms: a slow line
};

class LrzszPeer {
public:
    // Runs `command` in `directory`. What it writes reaches the pty only once the program
    // under test has set the line to `baud` (its open drops what was queued before): start the
    // program after the peer. A baud of 0 lets everything through at once (a port already open).
    LrzszPeer(int master, const QStringList &command, const QString &directory,
              LineNoise noise = {}, unsigned baud = 115200);
    ~LrzszPeer();
    LrzszPeer(const LrzszPeer &) = delete;
    LrzszPeer &operator=(const LrzszPeer &) = delete;

    // The exit code (128 + signal), or -1 when it has not ended within the time.
    int wait(int timeoutMs = 60000);
    void signal(int number);
    bool started() const { return m_pid > 0; }

private:
    void relay(int master, unsigned baud, LineNoise noise);

    pid_t m_pid = -1;
    int m_socket = -1;
    int m_status = -1;
    std::atomic<bool> m_running{true};
    std::thread m_thread;
};

} // namespace testsupport
