#include "tests/test_pty.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <stdexcept>
#include <sys/mount.h>
#include <termios.h>
#include <unistd.h>

namespace testsupport {

namespace {

// The owner and modes of the devpts on /dev/pts now ("rw,relatime,gid=5,mode=620,ptmxmode=000"
// gives "gid=5,mode=620"), so that the test's ptys get the machine's; empty when there is none.
QByteArray devptsOptions(bool &found) {
    found = false;
    QFile mounts(QStringLiteral("/proc/self/mounts"));
    if (!mounts.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    for (QByteArray line = mounts.readLine(); !line.isEmpty(); line = mounts.readLine()) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 4 || fields[1] != "/dev/pts" || fields[2] != "devpts")
            continue;
        found = true;
        QList<QByteArray> kept;
        for (const QByteArray &option : fields[3].split(','))
            if (option.startsWith("gid=") || option.startsWith("uid=") ||
                option.startsWith("mode="))
                kept << option;
        return kept.join(',');
    }
    return {};
}

} // namespace

bool usePrivatePseudoTerminals() {
    bool found = false;
    const QByteArray options = devptsOptions(found);
    if (::geteuid() != 0 || !found || ::unshare(CLONE_NEWNS) != 0)
        return false;
    // Private first: a mount in a namespace that still shares its mounts would reach the
    // machine's /dev/pts.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    const QByteArray own = options + (options.isEmpty() ? "" : ",") + "newinstance,ptmxmode=0666";
    return ::mount("devpts", "/dev/pts", "devpts", MS_NOSUID | MS_NOEXEC, own.constData()) == 0;
}

Pty::Pty() {
    char name[256] = {};
    int slave = -1;
    if (openpty(&m_master, &slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    // Raw on both sides so that every byte value passes unchanged.
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    m_keepSlave = slave;
    m_slavePath = QString::fromLocal8Bit(name);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    // A program the test starts must not hold the device's side open too: closing it here
    // would then not hang the device up.
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_keepSlave, F_SETFD, FD_CLOEXEC);
}

Pty::~Pty() {
    closeMaster();
    if (m_keepSlave >= 0)
        ::close(m_keepSlave);
}

void Pty::closeMaster() {
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

void Pty::write(const QByteArray &bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, bytes.size() - done);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            throw std::runtime_error("write to pty master failed");
        pollfd p{m_master, POLLOUT, 0};
        ::poll(&p, 1, 50);
    }
}

QByteArray Pty::read(int atLeast, int timeoutMs) {
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    char buf[65536];
    while (timer.elapsed() < timeoutMs) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, n);
            if (out.size() >= atLeast)
                break;
            continue;
        }
        pollfd p{m_master, POLLIN, 0};
        ::poll(&p, 1, 10);
        QCoreApplication::processEvents();
    }
    return out;
}

bool waitUntil(const std::function<bool()> &cond, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!cond()) {
        if (timer.elapsed() > timeoutMs)
            return cond();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

QByteArray readFile(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write test file");
    f.write(bytes);
}

} // namespace testsupport
