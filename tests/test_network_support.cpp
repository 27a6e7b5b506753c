#include "tests/test_network_support.h"

#include "platform/thread_priority.h"
#include "serial/line_state.h"

#include <QFile>
#include <QRandomGenerator>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace testsupport {

namespace {

sockaddr_in loopback(quint16 port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A listening socket on 127.0.0.1 (port 0: any), and its port.
int listenOn(quint16 port, int backlog, quint16 &bound) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = loopback(port);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(fd, backlog) != 0) {
        ::close(fd);
        return -1;
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    bound = ntohs(address.sin_port);
    return fd;
}

bool accepts(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopback(port);
    const bool ok =
        ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

} // namespace

quint16 freeTcpPort() {
    quint16 port = 0;
    const int fd = listenOn(0, 1, port);
    ::close(fd);
    return port;
}

// --- ser2net ------------------------------------------------------------------------------

Ser2net::Ser2net(Protocol protocol, const QString &devicePath)
    : m_protocol(protocol), m_port(freeTcpPort()),
      m_devicePath(devicePath.isEmpty() ? m_device.slavePath() : devicePath) {
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

Ser2net::~Ser2net() {
    stop();
}

QString Ser2net::portName() const {
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(m_protocol == Protocol::Rfc2217 ? "rfc2217" : "tcp")
        .arg(m_port);
}

bool Ser2net::start() {
    const QString config = m_dir.filePath("ser2net.yaml");
    const QString accepter = m_protocol == Protocol::Rfc2217 ? "telnet(rfc2217),tcp" : "tcp";
    // "local": the pty has no modem lines to wait for.
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) {
        m_failure = "could not write " + config;
        return false;
    }
    file.write(QStringLiteral("%YAML 1.1\n---\nconnection: &device\n"
                              "  accepter: %1,127.0.0.1,%2\n"
                              "  connector: serialdev,%3,9600n81,local\n")
                   .arg(accepter)
                   .arg(m_port)
                   .arg(m_devicePath)
                   .toUtf8());
    file.close();
    m_process.start("ser2net", {"-n", "-d", "-u", "-c", config});
    if (!m_process.waitForStarted(5000)) {
        m_failure = "ser2net could not be run: " + m_process.errorString() +
                    " (it comes with the package ser2net: make deps)";
        return false;
    }
    for (int i = 0; i < 100; ++i) {
        if (accepts(m_port))
            return true;
        if (m_process.waitForFinished(50)) {
            m_failure = "ser2net ended at its start (it refuses to run where this machine has no "
                        "address but loopback): " +
                        QString::fromLocal8Bit(m_process.readAll());
            return false;
        }
    }
    m_failure = "ser2net never accepted a connection on port " + QString::number(m_port) + ": " +
                QString::fromLocal8Bit(m_process.readAll());
    stop();
    return false;
}

void Ser2net::stop() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(m_process.processId()), SIGTERM);
    if (!m_process.waitForFinished(1000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

// --- the device read on a thread ---------------------------------------------------------

DeviceReader::DeviceReader(Pty &device) : m_master(device.master()) {
    m_thread = std::thread([this] {
        platform::raiseToTimeCritical(); // ahead of a busy machine's other work where allowed
        char buffer[65536];
        while (m_running) {
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0)
                continue;
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n > 0) {
                const std::lock_guard lock(m_mutex);
                m_received.append(buffer, n);
            }
        }
    });
}

DeviceReader::~DeviceReader() {
    m_running = false;
    m_thread.join();
}

QByteArray DeviceReader::take(qsizetype size, int timeoutMs) {
    const auto enough = [&] {
        const std::lock_guard lock(m_mutex);
        return m_received.size() >= size;
    };
    waitUntil(enough, timeoutMs);
    const std::lock_guard lock(m_mutex);
    const QByteArray taken = m_received.left(size);
    m_received.remove(0, taken.size());
    return taken;
}

// --- the fake server ----------------------------------------------------------------------

FakeServer::FakeServer(Serve serve) : m_serve(std::move(serve)) {
    m_listener = listenOn(0, 4, m_port);
    m_thread = std::thread([this] { run(); });
}

FakeServer::~FakeServer() {
    m_running = false;
    m_thread.join();
    ::close(m_listener);
}

void FakeServer::run() {
    while (m_running) {
        pollfd p{m_listener, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        m_serve(client, m_running);
        ::close(client);
    }
}

void FakeServer::record(const char *data, qsizetype size) {
    const std::lock_guard lock(m_mutex);
    m_received.append(data, size);
}

QByteArray FakeServer::received() const {
    const std::lock_guard lock(m_mutex);
    return m_received;
}

bool FakeServer::drain(int socket, FakeServer &server, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[4096];
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{socket, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0)
            continue;
        const ssize_t n = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0)
            return false;
        server.record(buffer, n);
    }
    return true;
}

// --- an address that never answers --------------------------------------------------------

SilentAddress::SilentAddress() {
    m_listener = listenOn(0, 0, m_port);
    // Connections that are never accepted fill the queue; the next ones get no answer.
    const sockaddr_in address = loopback(m_port);
    for (int i = 0; i < 8; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
        m_queued.push_back(fd);
    }
}

SilentAddress::~SilentAddress() {
    for (int fd : m_queued)
        ::close(fd);
    ::close(m_listener);
}

QByteArray everyByteValue(qsizetype size) {
    QByteArray bytes(size, 'R');
    QRandomGenerator random(20240613);
    for (qsizetype i = 1; i < size; ++i)
        bytes[i] = char(i <= 256 ? i - 1 : int(random.bounded(256)));
    return bytes;
}

QByteArray readWithLine(Pty &device, qsizetype size, DeviceLine &line) {
    DeviceReader reader(device);
    QByteArray received = reader.take(1, 10000);
    if (const auto state = serial::readLineState(device.master()))
        line = {state->ospeed, state->cflag & (CSTOPB | PARODD | CMSPAR | CRTSCTS),
                state->iflag & (IXON | IXOFF)};
    if (received.size() < size)
        received += reader.take(size - received.size(), 20000);
    return received;
}

long residentKb(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

} // namespace testsupport
