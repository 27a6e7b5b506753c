#include "tests/test_lrzsz_peer.h"

#include "platform/child_process.h"

#include <QByteArray>
#include <QFile>
#include <QRandomGenerator>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace testsupport {

namespace {

speed_t speedOf(unsigned baud) {
    return baud == 115200 ? B115200 : baud == 9600 ? B9600 : B57600;
}

bool configured(int master, speed_t speed) {
    termios t{};
    return ::tcgetattr(master, &t) == 0 && ::cfgetospeed(&t) == speed;
}

// To the socket without SIGPIPE once the peer has gone.
void writeAll(int fd, const char *data, qsizetype size, bool socket) {
    while (size > 0) {
        const ssize_t n = socket ? ::send(fd, data, std::size_t(size), MSG_NOSIGNAL)
                                 : ::write(fd, data, std::size_t(size));
        if (n > 0) {
            data += n;
            size -= n;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        } else {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 50);
        }
    }
}

} // namespace

LrzszPeer::LrzszPeer(int master, const QStringList &command, const QString &directory,
                     LineNoise noise, unsigned baud) {
    // The line's rate from an earlier run would let the peer's first bytes through before the
    // next run's open drops them: the rate is set back, and the run sets it again.
    termios t{};
    if (baud != 0 && ::tcgetattr(master, &t) == 0) {
        ::cfsetspeed(&t, B38400);
        ::tcsetattr(master, TCSANOW, &t);
    }
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return;
    platform::ArgumentVector argv(command);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], 0);
    posix_spawn_file_actions_adddup2(&actions, pair[1], 1);
    // Its progress would fill the test's log.
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const QByteArray where = QFile::encodeName(directory);
    posix_spawn_file_actions_addchdir_np(&actions, where.constData());
    // A process group of its own: what it signals to its group on a cancel stays there.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    if (posix_spawnp(&m_pid, argv.program(), &actions, &attributes, argv.data(), environ) != 0)
        m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pair[1]);
    m_socket = pair[0];
    m_thread = std::thread([this, master, baud, noise] { relay(master, baud, noise); });
}

LrzszPeer::~LrzszPeer() {
    if (m_pid > 0 && m_status < 0) {
        ::kill(m_pid, SIGKILL);
        wait(5000);
    }
    m_running = false;
    if (m_thread.joinable())
        m_thread.join();
    if (m_socket >= 0)
        ::close(m_socket);
}

int LrzszPeer::wait(int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_pid > 0 && m_status < 0 && std::chrono::steady_clock::now() < until) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid)
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return m_status;
}

void LrzszPeer::signal(int number) {
    if (m_pid > 0 && m_status < 0)
        ::kill(m_pid, number);
}

// Both ways, each byte perhaps lost or damaged; the peer's bytes held back until the line is
// set.
void LrzszPeer::relay(int master, unsigned baud, LineNoise noise) {
    QRandomGenerator rng(noise.seed);
    const speed_t speed = speedOf(baud);
    bool open = false;
    bool peerGone = false;
    char buffer[65536];
    const auto damage = [&](qsizetype n) {
        qsizetype kept = 0;
        for (qsizetype i = 0; i < n; ++i) {
            if (noise.dropOneIn && rng.bounded(noise.dropOneIn) == 0)
                continue;
            char c = buffer[i];
            if (noise.flipOneIn && rng.bounded(noise.flipOneIn) == 0)
                c = char(c ^ (1 << rng.bounded(8)));
            buffer[kept++] = c;
        }
        return kept;
    };
    const auto chunk = std::size_t(std::min<qsizetype>(noise.chunk, sizeof buffer));
    while (m_running) {
        if (noise.chunk < qsizetype(sizeof buffer))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        open = open || baud == 0 || configured(master, speed);
        pollfd fds[2] = {{master, POLLIN, 0}, {open && !peerGone ? m_socket : -1, POLLIN, 0}};
        if (::poll(fds, 2, 20) <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(master, buffer, chunk);
            if (n > 0)
                writeAll(m_socket, buffer, damage(n), true);
        }
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            const ssize_t n = ::read(m_socket, buffer, chunk);
            if (n > 0)
                writeAll(master, buffer, damage(n), false);
            peerGone = n == 0;
        }
        if (fds[0].revents & (POLLHUP | POLLERR) && !(fds[0].revents & POLLIN))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace testsupport
