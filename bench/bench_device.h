// The device side of the send benchmarks: a raw pseudo-terminal, a thread that reads the master
// side and stamps every read, and an event loop run until a condition holds.
#pragma once

#include "platform/thread_priority.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QString>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

class Pty {
public:
    Pty() {
        char name[256] = {};
        if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
            std::abort();
        termios t{};
        tcgetattr(m_slave, &t);
        cfmakeraw(&t);
        tcsetattr(m_slave, TCSANOW, &t);
        m_path = QString::fromLocal8Bit(name);
    }
    ~Pty() {
        ::close(m_master);
        ::close(m_slave);
    }
    int master() const { return m_master; }
    int slave() const { return m_slave; }
    const QString &path() const { return m_path; }

private:
    int m_master = -1;
    int m_slave = -1; // keeps the pty alive while the program closes and reopens it
    QString m_path;
};

// Reads the master side until `expected` bytes came or the time is up, stamping every read.
class Device {
public:
    Device(int fd, qint64 expected) : m_fd(fd), m_expected(expected) {
        m_thread = std::thread([this] { run(); });
    }
    ~Device() {
        m_stop = true;
        m_thread.join();
    }
    bool done() const { return m_received >= m_expected; }
    qint64 received() const { return m_received; }
    const std::vector<Clock::time_point> &stamps() const { return m_stamps; }
    Clock::time_point first() const { return m_first; }
    Clock::time_point last() const { return m_last; }

private:
    void run() {
        // The device is the instrument: it should see the arrival, not its own wake-up delay.
        platform::raiseToTimeCritical();
        std::vector<char> buffer(1 << 16);
        while (!m_stop && m_received < m_expected) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(m_fd, buffer.data(), buffer.size());
            if (n <= 0)
                continue;
            m_last = Clock::now();
            if (m_received == 0)
                m_first = m_last;
            if (m_stamps.size() < 100000)
                m_stamps.insert(m_stamps.end(), size_t(n), m_last);
            m_received += n;
        }
    }
    int m_fd;
    qint64 m_expected;
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_received{0};
    std::vector<Clock::time_point> m_stamps;
    Clock::time_point m_first;
    Clock::time_point m_last;
    std::thread m_thread;
};

// Runs the event loop until cond() holds or the time is up.
inline bool runUntil(const std::function<bool()> &cond, int timeoutMs) {
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer timer;
    timer.start();
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (cond() || timer.elapsed() > timeoutMs)
            loop.quit();
    });
    poll.start(2);
    loop.exec();
    return cond();
}

} // namespace bench
