// Resolving a host and connecting to it, bounded in time and cancellable.
#include "serial/network_port.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace serial {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
constexpr milliseconds kSlice(50);

bool cancelled(const std::atomic<bool> *running) {
    return running && !running->load();
}

int sliceMs(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::clamp(left, milliseconds(0), kSlice).count());
}

QString systemText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// One lookup, shared by the caller and the resolver thread: whichever lets go last frees it, so
// a caller that gave up never waits for getaddrinfo and never leaves it writing into freed memory.
struct Lookup {
    std::string host;
    std::string service;
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int status = 0;
    addrinfo *result = nullptr;
    ~Lookup() {
        if (result)
            freeaddrinfo(result);
    }
};

void resolve(const std::shared_ptr<Lookup> &lookup) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *result = nullptr;
    const int status = getaddrinfo(lookup->host.c_str(), lookup->service.c_str(), &hints, &result);
    const std::lock_guard lock(lookup->mutex);
    lookup->status = status;
    lookup->result = status == 0 ? result : nullptr;
    lookup->finished = true;
    lookup->done.notify_all();
}

// The finished lookup, or null with the reason.
std::shared_ptr<Lookup> resolveBounded(const NetworkAddress &address, Clock::time_point deadline,
                                       const std::atomic<bool> *running, QString &reason) {
    auto lookup = std::make_shared<Lookup>();
    lookup->host = address.host.toStdString();
    lookup->service = std::to_string(address.port);
    try {
        std::thread([lookup] { resolve(lookup); }).detach();
    } catch (const std::system_error &error) {
        reason = QString::fromLocal8Bit(error.what());
        return nullptr;
    }
    std::unique_lock lock(lookup->mutex);
    while (!lookup->finished && !cancelled(running) && Clock::now() < deadline)
        lookup->done.wait_for(lock, milliseconds(sliceMs(deadline)));
    if (!lookup->finished) {
        reason = cancelled(running) ? systemText(ECANCELED) : systemText(ETIMEDOUT);
        return nullptr;
    }
    if (lookup->status != 0) {
        reason = QString::fromLocal8Bit(gai_strerror(lookup->status));
        return nullptr;
    }
    return lookup;
}

// A connected socket to one address, or -1 with errno set.
int connectOne(const addrinfo &target, Clock::time_point deadline,
               const std::atomic<bool> *running) {
    const int fd = ::socket(target.ai_family, target.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            target.ai_protocol);
    if (fd < 0)
        return -1;
    int error = 0;
    if (::connect(fd, target.ai_addr, target.ai_addrlen) != 0) {
        error = errno == EINPROGRESS ? ETIMEDOUT : errno;
        while (error == ETIMEDOUT && !cancelled(running) && Clock::now() < deadline) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, sliceMs(deadline)) <= 0)
                continue;
            socklen_t length = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                error = errno;
        }
        if (error == ETIMEDOUT && cancelled(running))
            error = ECANCELED;
    }
    if (error != 0) {
        ::close(fd);
        errno = error;
        return -1;
    }
    // Every write leaves at once, in a segment of its own: a per-byte pause must not be
    // bunched up by Nagle's algorithm.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

} // namespace

int connectBounded(const NetworkAddress &address, milliseconds timeout,
                   const std::atomic<bool> *running, QString &reason) {
    const Clock::time_point deadline = Clock::now() + timeout;
    const std::shared_ptr<Lookup> lookup = resolveBounded(address, deadline, running, reason);
    if (!lookup)
        return -1;
    int error = ETIMEDOUT;
    for (const addrinfo *a = lookup->result; a && !cancelled(running) && Clock::now() < deadline;
         a = a->ai_next) {
        const int fd = connectOne(*a, deadline, running);
        if (fd >= 0)
            return fd;
        error = errno;
    }
    reason = systemText(cancelled(running) ? ECANCELED : error);
    return -1;
}

} // namespace serial
