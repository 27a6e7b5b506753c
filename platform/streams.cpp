#include "platform/streams.h"

#include "platform/files.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
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

StreamWrite writeStream(int fd, const char *data, qint64 size, const std::atomic<bool> &running) {
    StreamWrite result;
    while (result.written < size) {
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
        // A pipe that reports room has a free page at least: a write of up to PIPE_BUF bytes
        // does not wait for the reader.
        const qint64 piece = std::min<qint64>(size - result.written, PIPE_BUF);
        const ssize_t n = ::write(fd, data + result.written, size_t(piece));
        if (n > 0) {
            result.written += n;
        } else if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            result.error = errno;
            break;
        }
    }
    return result;
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
