#include "serial/serial_port.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

namespace serial {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The longest single wait, so that the run flag is looked at in time.
constexpr milliseconds kSlice(50);

using std::chrono::microseconds;
constexpr microseconds kShortestPause(50);

// The next look at the output queue: at most as long as the queued bytes take on the line (ten
// bits a byte), and growing from a short first step, so that neither a per-byte pause measured
// from the drain nor a device faster than its nominal rate (a pseudo-terminal) waits for a
// coarse sleep.
microseconds drainPause(int queued, std::uint32_t baud, microseconds previous) {
    const microseconds grown = std::min<microseconds>(previous * 2, kSlice);
    if (baud == 0)
        return grown;
    const long long lineTime = static_cast<long long>(queued) * 10 * 1000000 / baud;
    return std::clamp(microseconds(lineTime), kShortestPause, grown);
}

// A pseudo-terminal hands each write to the other side's input at once and reports an empty
// output queue (TIOCOUTQ) always: asking after every write cost a whole-chunk send about a tenth
// of its time and never waited. Linux numbers the pseudo-terminals' slave devices 136 to 143
// (the BSD-style ones 3).
bool isPseudoTerminal(int fd) {
#ifdef __linux__
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned int kind = major(st.st_rdev);
    return kind == 3 || (kind >= 136 && kind <= 143);
#else
    (void)fd;
    return false;
#endif
}

bool exclusiveFlagSet(int fd) {
#ifdef TIOCGEXCL
    int exclusive = 0;
    return ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
#else
    return false;
#endif
}

// Whether the kernel's list of file locks has a flock on the file behind path: another
// opening of the device holds it. Read before the device is opened, since every open of a tty
// raises DTR and RTS. Lines read "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF", the device
// of the file system in hex and the inode in decimal; waiters ("1: -> FLOCK ...") hold nothing.
bool flockedElsewhere(const QString &path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    const QByteArray file = QByteArray::number(major(st.st_dev), 16).rightJustified(2, '0') + ':' +
                            QByteArray::number(minor(st.st_dev), 16).rightJustified(2, '0') + ':' +
                            QByteArray::number(quint64(st.st_ino));
    // A busy system lists a few thousand locks; the list is bounded all the same. The file
    // reports a size of 0, so it is read until a read gives nothing.
    constexpr int kMostLines = 100000;
    for (int n = 0; n < kMostLines; ++n) {
        const QByteArray line = locks.readLine(256);
        if (line.isEmpty())
            break;
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 6 && fields.at(1) == "FLOCK" && fields.at(5) == file)
            return true;
    }
    return false;
}

// Another program holds the device by a lock file of its own or by a flock, found without
// opening it; the errno to report then.
int heldBeforeOpen(const QString &path, const QStringList &lockDirs) {
    if (path.isEmpty())
        return ENOENT;
    return lockedByLiveProcess(path, lockDirs) || flockedElsewhere(path) ? EBUSY : 0;
}

// A terminal nobody else holds, with our flock taken; -1 and the errno otherwise. Root passes
// TIOCEXCL at the open, so the flag is asked for; the flock keeps out every other opening that
// takes one too, also one that came after the look at the lock list.
int openUnheldTerminal(const QString &path, int &error) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    if (::isatty(fd) != 1)
        error = ENOTTY;
    else if (exclusiveFlagSet(fd) || ::flock(fd, LOCK_EX | LOCK_NB) != 0)
        error = EBUSY;
    else
        return fd;
    ::close(fd);
    return -1;
}

} // namespace

class SerialPort::Deadline {
public:
    explicit Deadline(std::optional<milliseconds> timeout) {
        const Clock::time_point now = Clock::now();
        const auto left = std::chrono::duration_cast<milliseconds>(Clock::time_point::max() - now);
        if (timeout && *timeout < left)
            m_end = now + std::max(*timeout, milliseconds(0));
    }
    bool passed() const { return Clock::now() >= m_end; }
    // The next wait in ms: one slice at most, never beyond the deadline.
    int sliceMs(milliseconds slice = kSlice) const {
        const auto left = std::chrono::ceil<milliseconds>(m_end - Clock::now());
        return static_cast<int>(std::clamp(left, milliseconds(0), slice).count());
    }

private:
    Clock::time_point m_end = Clock::time_point::max();
};

SerialPort::~SerialPort() {
    close();
}

bool SerialPort::openDevice(const QString &path, const QStringList &lockDirs) {
    close();
    // The lock file is ours before the device is opened: a port someone holds is never opened.
    m_openError = heldBeforeOpen(path, lockDirs);
    if (m_openError == 0 && !m_lock.acquire(path, lockDirs))
        m_openError = EBUSY;
    if (m_openError != 0)
        return false;
    const int fd = openUnheldTerminal(path, m_openError);
    if (fd < 0) {
        m_lock.release();
        return false;
    }
    // The flag was not set before (see openUnheldTerminal), so the one close clears is ours.
    ::ioctl(fd, TIOCEXCL);
    m_fd = fd;
    m_openError = 0;
    m_hasOutputQueue = !isPseudoTerminal(fd);
    if (const auto state = lineState()) {
        writeLineState(m_fd, rawLineState(*state));
        m_lineRate = state->ospeed;
    }
    return true;
}

void SerialPort::close() {
    if (m_fd < 0)
        return;
    // Exclusivity belongs to the tty, not to this handle: it would outlive the close while any
    // other handle keeps the tty open, and lock out the next opening.
    ::ioctl(m_fd, TIOCNXCL);
    ::close(m_fd);
    m_fd = -1;
    m_lock.release();
}

bool probeDevice(const QString &path, const QStringList &lockDirs) {
    if (heldBeforeOpen(path, lockDirs) != 0)
        return false;
    int error = 0;
    const int fd = openUnheldTerminal(path, error);
    if (fd < 0)
        return false;
    ::flock(fd, LOCK_UN);
    ::close(fd);
    return true;
}

std::optional<LineState> SerialPort::lineState() const {
    if (m_fd < 0)
        return std::nullopt;
    return readLineState(m_fd);
}

QStringList SerialPort::configure(const LineSettings &settings) {
    const auto current = lineState();
    if (!current)
        return {QStringLiteral("no line settings: the port is closed")};
    const LineState wanted = applyLineSettings(*current, settings);
    writeLineState(m_fd, wanted);
    const auto actual = lineState();
    if (!actual)
        return {QStringLiteral("no line settings: the port is closed")};
    m_lineRate = actual->ospeed;
    return keptSettings(settings, *actual);
}

bool SerialPort::purge() {
    return m_fd >= 0 && ::tcflush(m_fd, TCIOFLUSH) == 0;
}

qint64 SerialPort::dropOutput() {
    int queued = 0;
    if (m_fd < 0 || !m_hasOutputQueue || ::ioctl(m_fd, TIOCOUTQ, &queued) != 0)
        queued = 0;
    if (m_fd < 0 || ::tcflush(m_fd, TCOFLUSH) != 0)
        return 0;
    return std::max(queued, 0);
}

bool SerialPort::setModemLine(int line, bool on) {
    return m_fd >= 0 && ::ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0;
}

bool SerialPort::setDtr(bool on) {
    return setModemLine(TIOCM_DTR, on);
}

bool SerialPort::setRts(bool on) {
    return setModemLine(TIOCM_RTS, on);
}

bool SerialPort::enableRs485() {
#ifdef TIOCSRS485
    serial_rs485 request{};
    request.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    return m_fd >= 0 && ::ioctl(m_fd, TIOCSRS485, &request) == 0;
#else
    return false;
#endif
}

qint64 SerialPort::bytesAvailable() const {
    int queued = 0;
    if (m_fd < 0 || ::ioctl(m_fd, FIONREAD, &queued) != 0)
        return -1;
    return queued;
}

qint64 SerialPort::read(char *buffer, qint64 capacity) {
    if (m_fd < 0)
        return -1;
    if (capacity <= 0)
        return 0;
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, static_cast<size_t>(capacity));
        if (n >= 0)
            return n;
        if (errno != EINTR)
            return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}

bool SerialPort::setBreak(bool on) {
    return m_fd >= 0 && ::ioctl(m_fd, on ? TIOCSBRK : TIOCCBRK) == 0;
}

std::optional<InputLines> SerialPort::inputLines() const {
    int lines = 0;
    if (m_fd < 0 || ::ioctl(m_fd, TIOCMGET, &lines) != 0)
        return std::nullopt;
    return InputLines{(lines & TIOCM_CTS) != 0, (lines & TIOCM_DSR) != 0, (lines & TIOCM_CD) != 0,
                      (lines & TIOCM_RI) != 0};
}

Readiness SerialPort::waitReadable(int timeoutMs, platform::WakeSet *wake) {
    if (m_fd < 0)
        return Readiness::HungUp;
    const int events = platform::pollWith(m_fd, POLLIN, wake, timeoutMs);
    if (events < 0)
        return Readiness::HungUp;
    if (events == 0)
        return wake && wake->anyFired() ? Readiness::Woken : Readiness::TimedOut;
    if ((events & (POLLHUP | POLLERR | POLLNVAL)) == 0)
        return Readiness::Readable;
    // A hung-up port also reports POLLIN; only bytes that came before the hang-up are input.
    return bytesAvailable() > 0 ? Readiness::Readable : Readiness::HungUp;
}

WriteResult SerialPort::write(const char *data, qint64 size, std::optional<milliseconds> timeout,
                              const std::atomic<bool> &running) {
    if (m_fd < 0)
        return {WriteStatus::Failed, 0, EBADF};
    const Deadline deadline(timeout);
    WriteResult result = pushBytes(data, size, deadline, running);
    if (result.status == WriteStatus::Complete) {
        result.status = waitDrained(deadline, running);
        if (result.status == WriteStatus::Failed)
            result.error = errno;
    }
    return result;
}

WriteResult SerialPort::pushBytes(const char *data, qint64 size, const Deadline &deadline,
                                  const std::atomic<bool> &running) const {
    qint64 taken = 0;
    while (taken < size) {
        if (!running.load())
            return {WriteStatus::Stopped, taken};
        const ssize_t n = ::write(m_fd, data + taken, static_cast<size_t>(size - taken));
        if (n > 0) {
            taken += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return {WriteStatus::Failed, taken, errno};
        if (deadline.passed())
            return {WriteStatus::DeadlinePassed, taken};
        pollfd p{m_fd, POLLOUT, 0};
        ::poll(&p, 1, deadline.sliceMs());
    }
    return {WriteStatus::Complete, taken};
}

WriteStatus SerialPort::waitDrained(const Deadline &deadline,
                                    const std::atomic<bool> &running) const {
    if (!m_hasOutputQueue)
        return WriteStatus::Complete;
    // The rate is the one the port was last set to: reading it back costs a call per write.
    const std::uint32_t baud = m_lineRate;
    microseconds pause = kShortestPause / 2;
    for (;;) {
        int queued = 0;
        if (::ioctl(m_fd, TIOCOUTQ, &queued) != 0)
            return errno == ENOTTY || errno == EINVAL ? WriteStatus::Complete : WriteStatus::Failed;
        if (queued <= 0)
            return WriteStatus::Complete;
        if (!running.load())
            return WriteStatus::Stopped;
        if (deadline.passed())
            return WriteStatus::DeadlinePassed;
        pause = drainPause(queued, baud, pause);
        std::this_thread::sleep_for(
            std::min<microseconds>(milliseconds(deadline.sliceMs()), pause));
    }
}

} // namespace serial
