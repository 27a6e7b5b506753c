#include "platform/streams.h"

#include "platform/files.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kSliceMs = 50;

// Waits for `events` on fd for one slice while the flag holds, else only looks: the events
// that came (a hang-up and an error count as ready: the read or write that follows tells which),
// 0 for none, -1 with errno set when fd cannot be waited on. A watched descriptor that becomes
// readable meanwhile is handed to its watcher (and, once it says so, no longer watched).
int waitFor(int fd, short events, const std::atomic<bool> &running,
            const StreamWatch **watch = nullptr) {
    const StreamWatch *watched = watch ? *watch : nullptr;
    pollfd p[2] = {{fd, events, 0}, {watched ? watched->fd : -1, POLLIN, 0}};
    const int n = ::poll(p, 2, running.load() ? kSliceMs : 0);
    if (n < 0)
        return errno == EINTR ? 0 : -1;
    if (watched && p[1].revents != 0 && !watched->ready())
        *watch = nullptr;
    if (n > 0 && (p[0].revents & POLLNVAL)) {
        errno = EBADF;
        return -1;
    }
    return p[0].revents;
}

} // namespace

qint64 readStream(int fd, char *buffer, qint64 capacity, const std::atomic<bool> &running) {
    for (;;) {
        const int ready = waitFor(fd, POLLIN, running);
        if (ready < 0)
            return kStreamFailed;
        if (ready == 0) {
            if (!running.load())
                return kStreamStopped;
            continue;
        }
        // Input is there (or the writers have gone): the read does not wait, also on a
        // descriptor that blocks.
        const ssize_t n = ::read(fd, buffer, size_t(std::max<qint64>(capacity, 0)));
        if (n >= 0)
            return n;
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            return kStreamFailed;
    }
}

StreamWrite writeStream(int fd, const char *data, qint64 size, const std::atomic<bool> &running,
                        bool nonBlocking, const StreamWatch *watch) {
    StreamWrite result;
    bool mayWrite = nonBlocking;
    while (result.written < size) {
        if (!mayWrite) {
            const int ready = waitFor(fd, POLLOUT, running, &watch);
            if (ready < 0) {
                result.error = errno;
                break;
            }
            if (ready == 0) {
                if (!running.load())
                    break;
                continue;
            }
        }
        // A pipe that reports room has a free page at least: a write of up to PIPE_BUF bytes
        // does not wait for the reader.
        const qint64 left = size - result.written;
        const qint64 piece = nonBlocking ? left : std::min<qint64>(left, PIPE_BUF);
        const ssize_t n = ::write(fd, data + result.written, size_t(piece));
        if (n > 0) {
            result.written += n;
            mayWrite = nonBlocking;
        } else if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            result.error = errno;
            break;
        } else {
            mayWrite = nonBlocking && n < 0 && errno == EINTR;
        }
    }
    return result;
}

qint64 readReady(int fd, char *buffer, qint64 capacity) {
    const ssize_t n = ::read(fd, buffer, size_t(std::max<qint64>(capacity, 0)));
    if (n > 0)
        return n;
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
        return kStreamStopped;
    return n == 0 ? kStreamEnd : kStreamFailed;
}

int reopenNonBlocking(int fd) {
    char name[PATH_MAX];
    if (::isatty(fd) != 1 || ::ttyname_r(fd, name, sizeof name) != 0)
        return -1;
    // Opening the master's name would make a new pseudo-terminal.
    if (std::strcmp(name, "/dev/ptmx") == 0 || std::strcmp(name, "/dev/pts/ptmx") == 0)
        return -1;
    const int own = ::open(name, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    struct stat a {
    }, b{};
    if (own >= 0 && ::fstat(fd, &a) == 0 && ::fstat(own, &b) == 0 && a.st_rdev == b.st_rdev)
        return own;
    if (own >= 0)
        ::close(own);
    return -1;
}

namespace {
bool g_closedAtStart[3] = {false, false, false};
} // namespace

void guardStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free descriptor: this one, as the lower ones are open by now.
        const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
        g_closedAtStart[fd] = true;
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

bool closedAtStart(int fd) {
    return fd >= STDIN_FILENO && fd <= STDERR_FILENO && g_closedAtStart[fd];
}

bool openInput(QFile &file, const QString &path, QIODevice::OpenMode mode, int &stream,
               int *error) {
    if (path == QLatin1String("-")) {
        file.close();
        if (closedAtStart(STDIN_FILENO)) {
            if (error)
                *error = EBADF;
            return false;
        }
        stream = STDIN_FILENO;
        return true;
    }
    return openFileOrFifo(file, path, mode, stream, error);
}

} // namespace platform
