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
// 0 for none, -1 with errno set when fd cannot be waited on.
int waitFor(int fd, short events, const std::atomic<bool> &running) {
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, running.load() ? kSliceMs : 0);
    if (n < 0)
        return errno == EINTR ? 0 : -1;
    if (n > 0 && (p.revents & POLLNVAL)) {
        errno = EBADF;
        return -1;
    }
    return n > 0 ? p.revents : 0;
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
                        bool nonBlocking) {
    StreamWrite result;
    bool mayWrite = nonBlocking;
    while (result.written < size) {
        if (!mayWrite) {
            const int ready = waitFor(fd, POLLOUT, running);
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

bool openInput(QFile &file, const QString &path, QIODevice::OpenMode mode, int &stream,
               int *error) {
    if (path == QLatin1String("-")) {
        file.close();
        stream = STDIN_FILENO;
        return true;
    }
    return openFileOrFifo(file, path, mode, stream, error);
}

} // namespace platform
