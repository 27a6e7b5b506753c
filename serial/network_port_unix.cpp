#include "serial/network_port.h"

#include "serial/port_names.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace serial {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The longest single wait, so that the run flag is looked at in time.
constexpr milliseconds kSlice(50);
// How long the server has to answer the line settings: a server that never answers an option
// costs this once, and the port is used all the same.
constexpr milliseconds kAnswerWait(1000);
// How long the end of a send waits for the server to end the connection.
constexpr milliseconds kCloseWait(1000);
// Data bytes escaped and sent in one go.
constexpr int kWireSlice = 4096;
// Reads in a row that may hold only Telnet commands before a read returns with no data.
constexpr int kReadsForData = 4;
// What is kept of the server's text at an open, and what of it a message shows.
constexpr qsizetype kOpenTextBound = 512;
constexpr qsizetype kOpenTextShown = 160;

bool wouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

int sliceMs(std::optional<Clock::time_point> deadline) {
    if (!deadline)
        return int(kSlice.count());
    const auto left = std::chrono::ceil<milliseconds>(*deadline - Clock::now());
    return static_cast<int>(std::clamp(left, milliseconds(0), kSlice).count());
}

} // namespace

NetworkPort::~NetworkPort() {
    close();
}

bool NetworkPort::open(const NetworkAddress &address, milliseconds timeout,
                       const std::atomic<bool> *running) {
    close();
    m_openError.clear();
    if (!address.valid()) {
        m_openError = address.error;
        return false;
    }
    m_fd = connectBounded(address, timeout, running, m_openError);
    if (m_fd < 0)
        return false;
    m_peerClosed = false;
    m_writeShut = false;
    m_openText.clear();
    m_settingsUnconfirmed = false;
    if (address.protocol == NetworkProtocol::Rfc2217) {
        const std::lock_guard lock(m_sendMutex);
        m_telnet.emplace();
        flushOutbox();
    }
    return true;
}

void NetworkPort::close() {
    if (m_fd < 0)
        return;
    ::close(m_fd);
    m_fd = -1;
    m_telnet.reset();
}

// A server may still hold bytes of the last send for its device when the connection ends. A
// close with the server's answers unread resets the connection, and ser2net then drops what it
// held (seen: the last 100 KB of a 256 KB send). So the end of the sending is said first, and
// the server's bytes are read and dropped until it has closed its side. A server that closed
// first, or reset the connection (it closed with bytes unread), may not have the last bytes.
QString NetworkPort::finishOutput(const std::atomic<bool> &running) {
    if (m_fd < 0 || m_writeShut)
        return {};
    pollfd first{m_fd, POLLRDHUP, 0};
    const bool closedFirst =
        m_peerClosed || (::poll(&first, 1, 0) > 0 && (first.revents & POLLRDHUP) != 0);
    const int shutError = ::shutdown(m_fd, SHUT_WR) == 0 ? 0 : errno;
    m_writeShut = true;
    const Clock::time_point deadline = Clock::now() + kCloseWait;
    char dropped[4096];
    while (Clock::now() < deadline && running.load()) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, sliceMs(deadline)) <= 0)
            continue;
        const ssize_t n = ::recv(m_fd, dropped, sizeof dropped, MSG_DONTWAIT);
        if (n < 0 && !wouldBlock(errno))
            return QString::fromLocal8Bit(std::strerror(errno));
        if (n == 0)
            break;
    }
    m_peerClosed = true;
    if (shutError != 0)
        return QString::fromLocal8Bit(std::strerror(shutError));
    return closedFirst ? QStringLiteral("the server closed the connection before the send ended")
                       : QString();
}

void NetworkPort::keepOpenText(const char *data, qint64 size) {
    if (size > 0)
        m_openText.append(data, std::min(size, kOpenTextBound - m_openText.size()));
}

QString NetworkPort::endedAtOpen(milliseconds wait) {
    if (m_fd < 0)
        return QStringLiteral("the port is closed");
    const Clock::time_point deadline = Clock::now() + wait;
    while (!m_peerClosed) {
        // Only the end of the connection wakes this: the device's bytes stay queued.
        pollfd p{m_fd, POLLRDHUP, 0};
        if (::poll(&p, 1, sliceMs(deadline)) > 0 && p.revents != 0)
            break;
        if (Clock::now() >= deadline)
            return {};
    }
    // What the server said before it went.
    char text[kOpenTextBound];
    for (int reads = 0; reads < kReadsForData && m_openText.size() < kOpenTextBound; ++reads) {
        const qint64 n = read(text, kOpenTextBound - m_openText.size());
        if (n < 0)
            break;
        keepOpenText(text, n);
    }
    const QString said = printableText(QString::fromUtf8(m_openText).simplified());
    QString reason = QStringLiteral("the server closed the connection");
    if (!said.isEmpty())
        reason += QStringLiteral(" (%1)").arg(elided(said, kOpenTextShown));
    return reason;
}

bool NetworkPort::flushOutbox() {
    telnet::Outbox &outbox = m_telnet->outbox();
    while (!outbox.empty()) {
        const ssize_t n =
            ::send(m_fd, outbox.data(), size_t(outbox.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0)
            return wouldBlock(errno);
        outbox.consume(int(n));
    }
    return true;
}

bool NetworkPort::request(telnet::ComPortCommand command, std::uint32_t value) {
    const std::lock_guard lock(m_sendMutex);
    if (m_fd < 0 || !m_telnet || m_writeShut)
        return false;
    return m_telnet->request(command, value) && flushOutbox();
}

QStringList NetworkPort::configure(const LineSettings &settings, const std::atomic<bool> *running) {
    if (m_fd < 0)
        return {QStringLiteral("no line settings: the port is closed")};
    if (!m_telnet)
        return {};
    const std::vector<telnet::ComPortRequest> requests = telnet::lineRequests(settings);
    {
        const std::lock_guard lock(m_sendMutex);
        for (const telnet::ComPortRequest &r : requests) {
            m_telnet->forgetAnswer(r.command);
            m_telnet->request(r.command, r.value);
        }
        flushOutbox();
    }
    const Clock::time_point deadline = Clock::now() + kAnswerWait;
    std::array<char, 4096> dropped{};
    while (!answered(requests) && Clock::now() < deadline && !(running && !running->load())) {
        // A connection that ended fails the open (see endedAtOpen), not a setting.
        if (waitReadable(sliceMs(deadline)) == Readiness::HungUp)
            return {};
        const qint64 n = read(dropped.data(), qint64(dropped.size()));
        keepOpenText(dropped.data(), n);
    }
    m_settingsUnconfirmed = Clock::now() >= deadline && answeredNone(requests);
    const std::lock_guard lock(m_sendMutex);
    if (m_telnet->comPortRefused() && !requests.empty())
        return {QStringLiteral("its own line settings: the server refused the Com Port option")};
    return keptSettings(settings, telnet::answeredSettings(*m_telnet, settings));
}

bool NetworkPort::answered(const std::vector<telnet::ComPortRequest> &requests) const {
    const std::lock_guard lock(m_sendMutex);
    if (m_telnet->comPortRefused())
        return true;
    return std::all_of(requests.begin(), requests.end(), [this](const telnet::ComPortRequest &r) {
        return m_telnet->answer(r.command).has_value();
    });
}

bool NetworkPort::answeredNone(const std::vector<telnet::ComPortRequest> &requests) const {
    const std::lock_guard lock(m_sendMutex);
    return !m_telnet->comPortRefused() &&
           std::none_of(requests.begin(), requests.end(), [this](const telnet::ComPortRequest &r) {
               return m_telnet->answer(r.command).has_value();
           });
}

qint64 NetworkPort::read(char *buffer, qint64 capacity) {
    if (m_fd < 0)
        return -1;
    if (capacity <= 0)
        return 0;
    // A server sending nothing but commands must not keep the caller here past a few reads.
    for (int reads = 0; reads < kReadsForData; ++reads) {
        const ssize_t n = ::recv(m_fd, buffer, size_t(capacity), MSG_DONTWAIT);
        if (n == 0 || (n < 0 && !wouldBlock(errno))) {
            m_peerClosed = true;
            return -1;
        }
        if (n < 0)
            return 0;
        if (!m_telnet)
            return n;
        const std::lock_guard lock(m_sendMutex);
        const qint64 data = m_telnet->receive(buffer, n);
        flushOutbox();
        // A read that held only commands is not the end of the input: take the next one.
        if (data > 0)
            return data;
    }
    return 0;
}

Readiness NetworkPort::waitReadable(int timeoutMs, platform::WakeSet *wake) {
    if (m_fd < 0 || m_peerClosed)
        return Readiness::HungUp;
    const int events = platform::pollWith(m_fd, POLLIN | POLLRDHUP, wake, timeoutMs);
    if (events < 0)
        return Readiness::HungUp;
    if (events == 0)
        return wake && wake->anyFired() ? Readiness::Woken : Readiness::TimedOut;
    if ((events & (POLLHUP | POLLERR | POLLNVAL | POLLRDHUP)) == 0)
        return Readiness::Readable;
    // What the server sent before it went is still input.
    int queued = 0;
    if (::ioctl(m_fd, FIONREAD, &queued) == 0 && queued > 0)
        return Readiness::Readable;
    m_peerClosed = true;
    return Readiness::HungUp;
}

qint64 NetworkPort::sendSome(const char *data, qint64 size) {
    const std::lock_guard lock(m_sendMutex);
    if (!m_telnet) {
        const ssize_t n = ::send(m_fd, data, size_t(size), MSG_DONTWAIT | MSG_NOSIGNAL);
        return n >= 0 ? n : (wouldBlock(errno) ? 0 : -1);
    }
    // Answers and requests already queued go first, whole, and so does the second half of a
    // doubled 0xFF that the last send cut off.
    if (!flushOutbox())
        return -1;
    if (!m_telnet->outbox().empty())
        return 0;
    const int slice = int(std::min<qint64>(size, kWireSlice));
    std::array<std::uint8_t, 2 * kWireSlice> wire; // filled by escape
    const int wireSize = telnet::escape(data, slice, wire.data());
    const ssize_t n = ::send(m_fd, wire.data(), size_t(wireSize), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0)
        return wouldBlock(errno) ? 0 : -1;
    const telnet::WireSplit split = telnet::splitAt(data, slice, int(n));
    if (split.owesIac)
        m_telnet->outbox().append(&telnet::kIac, 1);
    return split.dataBytes;
}

WriteResult NetworkPort::write(const char *data, qint64 size, std::optional<milliseconds> timeout,
                               const std::atomic<bool> &running) {
    if (m_fd < 0 || m_writeShut)
        return {WriteStatus::Failed, 0, EBADF};
    std::optional<Clock::time_point> deadline;
    if (timeout)
        deadline = Clock::now() + *timeout;
    qint64 taken = 0;
    while (taken < size) {
        if (!running.load())
            return {WriteStatus::Stopped, taken};
        const qint64 n = sendSome(data + taken, size - taken);
        if (n < 0)
            return {WriteStatus::Failed, taken, errno};
        taken += n;
        if (n > 0)
            continue;
        if (deadline && Clock::now() >= *deadline)
            return {WriteStatus::DeadlinePassed, taken};
        pollfd p{m_fd, POLLOUT, 0};
        ::poll(&p, 1, sliceMs(deadline));
    }
    // The half of a doubled 0xFF that the socket did not take must not wait for the next write.
    const std::lock_guard lock(m_sendMutex);
    if (m_telnet && !flushOutbox())
        return {WriteStatus::Failed, taken, errno};
    return {WriteStatus::Complete, taken};
}

} // namespace serial
