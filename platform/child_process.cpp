#include "platform/child_process.h"

#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace platform {

namespace {

void closeFd(int &fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

int statusCode(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return 255;
}

struct Pipes {
    int fds[3][2] = {{-1, -1}, {-1, -1}, {-1, -1}};
    ~Pipes() {
        for (auto &pair : fds) {
            closeFd(pair[0]);
            closeFd(pair[1]);
        }
    }
    bool open() {
        for (auto &pair : fds) {
            if (::pipe2(pair, O_CLOEXEC) != 0)
                return false;
        }
        return true;
    }
};

} // namespace

ArgumentVector::ArgumentVector(const QStringList &words) {
    for (const QString &word : words)
        m_words.push_back(QFile::encodeName(word));
    for (QByteArray &word : m_words)
        m_pointers.push_back(word.data());
    m_pointers.push_back(nullptr);
}

ChildProcess::~ChildProcess() {
    terminate();
}

QString ChildProcess::find(const QString &program) {
    return QStandardPaths::findExecutable(program);
}

QString ChildProcess::start(const QString &program, const QStringList &arguments,
                            const QString &directory) {
    terminate();
    m_status.reset();
    // A child that has ended must make a write to it fail, not end this program.
    std::signal(SIGPIPE, SIG_IGN);
    Pipes pipes;
    if (!pipes.open())
        return QString::fromLocal8Bit(std::strerror(errno));
    ArgumentVector argv(QStringList{program} + arguments);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipes.fds[0][0], 0);
    posix_spawn_file_actions_adddup2(&actions, pipes.fds[1][1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipes.fds[2][1], 2);
    const QByteArray where = QFile::encodeName(directory);
    if (!directory.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, where.constData());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own process group; signals this program ignores or blocks are the child's defaults.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGXFSZ})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                              POSIX_SPAWN_SETSIGDEF);
    const int failed =
        posix_spawnp(&m_pid, argv.program(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (failed != 0) {
        m_pid = -1;
        return QString::fromLocal8Bit(std::strerror(failed));
    }
    m_input = std::exchange(pipes.fds[0][1], -1);
    m_output = std::exchange(pipes.fds[1][0], -1);
    m_errors = std::exchange(pipes.fds[2][0], -1);
    for (int fd : {m_input, m_output, m_errors})
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return {};
}

ChildProcess::Ready ChildProcess::wait(int timeoutMs, bool wantWrite) {
    pollfd fds[3] = {
        {m_output, POLLIN, 0}, {m_errors, POLLIN, 0}, {wantWrite ? m_input : -1, POLLOUT, 0}};
    Ready ready;
    if (::poll(fds, 3, timeoutMs) <= 0)
        return ready;
    ready.output = fds[0].revents != 0;
    ready.errors = fds[1].revents != 0;
    ready.writable = fds[2].revents != 0;
    return ready;
}

qint64 ChildProcess::readFrom(int &fd, char *into, qint64 capacity) {
    if (fd < 0)
        return -1;
    const ssize_t n = ::read(fd, into, std::size_t(capacity));
    if (n > 0)
        return n;
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return 0;
    closeFd(fd);
    return -1;
}

qint64 ChildProcess::writeInput(const char *data, qint64 size) {
    if (m_input < 0)
        return -1;
    const ssize_t n = ::write(m_input, data, std::size_t(size));
    if (n >= 0)
        return n;
    if (errno == EAGAIN || errno == EINTR)
        return 0;
    closeFd(m_input);
    return -1;
}

void ChildProcess::closeInput() {
    closeFd(m_input);
}

std::optional<int> ChildProcess::exitStatus() {
    if (m_pid <= 0 || m_status)
        return m_status;
    int status = 0;
    const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
    if (done == m_pid || (done < 0 && errno == ECHILD))
        m_status = done == m_pid ? statusCode(status) : 255;
    return m_status;
}

std::optional<int> ChildProcess::waitForExit(int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!exitStatus() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return exitStatus();
}

void ChildProcess::terminate(int graceMs) {
    if (m_pid > 0 && !exitStatus()) {
        ::kill(m_pid, SIGTERM);
        if (!waitForExit(graceMs)) {
            ::kill(m_pid, SIGKILL);
            int status = 0;
            if (::waitpid(m_pid, &status, 0) == m_pid)
                m_status = statusCode(status);
        }
    }
    closeAll();
    m_pid = -1;
}

void ChildProcess::closeAll() {
    closeFd(m_input);
    closeFd(m_output);
    closeFd(m_errors);
}

} // namespace platform
