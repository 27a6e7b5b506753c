// What the serial tests share: a tty's settings and exclusive flag as another program sees
// them, and lock files.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace serialtest {

inline int openTty(const QString &path) {
    return ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
}

// Puts the pty back into the state a fresh one has: cooked, echoing, XON/XOFF on.
inline void makeCooked(const QString &path) {
    const int fd = openTty(path);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    t.c_iflag |= ICRNL | IXON | IXOFF;
    t.c_oflag |= OPOST | ONLCR;
    t.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
    ::close(fd);
}

inline termios ttySettings(const QString &path) {
    termios t{};
    const int fd = openTty(path);
    tcgetattr(fd, &t);
    ::close(fd);
    return t;
}

inline bool sameSettings(const termios &a, const termios &b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
           cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

inline bool ttyExclusive(const QString &path) {
    const int fd = openTty(path);
    int exclusive = -1;
    ::ioctl(fd, TIOCGEXCL, &exclusive);
    ::close(fd);
    return exclusive == 1;
}

// Counts the opens of a device node since it was made (inotify's IN_OPEN), so that a test sees
// whether the program opened a device at all.
class OpenWatch {
public:
    explicit OpenWatch(const QString &path)
        : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
          m_watch(::inotify_add_watch(m_fd, QFile::encodeName(path).constData(), IN_OPEN)) {
        EXPECT_GE(m_watch, 0) << "inotify cannot watch " << path.toStdString();
    }
    ~OpenWatch() { ::close(m_fd); }
    OpenWatch(const OpenWatch &) = delete;
    OpenWatch &operator=(const OpenWatch &) = delete;
    int count() {
        alignas(inotify_event) char buffer[4096];
        ssize_t n = 0;
        while ((n = ::read(m_fd, buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < n;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                m_opens += (event->mask & IN_OPEN) != 0;
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
        return m_opens;
    }

private:
    int m_fd;
    int m_watch;
    int m_opens = 0;
};

// A lock file as minicom writes it: ten characters right-aligned and a newline.
inline QByteArray hdbLock(pid_t pid) {
    return QByteArray::number(pid).rightJustified(10, ' ') + '\n';
}

// The PID of a process that has ended.
inline pid_t deadPid() {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

// A lock directory of the test's own; a pty's lock file is named "LCK..pts_N".
struct LockDir {
    QTemporaryDir dir;
    QStringList dirs() const { return {dir.path()}; }
    QString fileFor(const QString &ptyPath) const {
        return dir.filePath("LCK..pts_" + QFileInfo(ptyPath).fileName());
    }
    qsizetype count() const {
        return QDir(dir.path()).entryList(QDir::Files | QDir::System).size();
    }
};

} // namespace serialtest
