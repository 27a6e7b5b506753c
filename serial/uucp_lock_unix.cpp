#include "serial/uucp_lock.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace serial {

namespace {

// More than any lock file holds; a longer file is no lock.
constexpr int kLongestLock = 64;

enum class LockRead { Missing, Pid, NoLock, Unreadable };
enum class Owner { None, Live, Stale };

// Links are resolved, so that every path to a device (/dev/serial/by-id/xyz) gives the name of
// the device itself (LCK..ttyUSB0). A pseudo-terminal gives "LCK..pts_3": its base name alone
// would clash with any other device named by a bare number.
QByteArray lockFile(const QString &dir, const QString &devicePath) {
    QString device = QFileInfo(devicePath).canonicalFilePath();
    if (device.isEmpty())
        device = devicePath;
    const QString pts = QStringLiteral("/dev/pts/");
    const QString base = device.startsWith(pts) ? QStringLiteral("pts_") + device.mid(pts.size())
                                                : QFileInfo(device).fileName();
    return QFile::encodeName(dir + QStringLiteral("/LCK..") + base);
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Decimal digits amid any whitespace (HDB writes ten characters right-aligned and a newline), or
// a 4-byte binary PID as old UUCP wrote it: its top byte is 0, so it never reads as digits.
std::optional<pid_t> parsePid(const QByteArray &content) {
    const QByteArray text = content.trimmed();
    if (!text.isEmpty() && std::all_of(text.begin(), text.end(), isDigit)) {
        bool ok = false;
        const qlonglong pid = text.toLongLong(&ok);
        return ok && pid > 0 && pid <= INT_MAX ? std::optional<pid_t>(pid_t(pid)) : std::nullopt;
    }
    std::int32_t pid = 0;
    if (content.size() != sizeof pid)
        return std::nullopt;
    std::memcpy(&pid, content.constData(), sizeof pid);
    return pid > 0 ? std::optional<pid_t>(pid) : std::nullopt;
}

// A link planted at the lock path is not followed, and neither is anything but a plain file
// read: a FIFO there would block a read.
LockRead readLock(const QByteArray &file, pid_t &pid) {
    const int fd = ::open(file.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT   ? LockRead::Missing
               : errno == EACCES ? LockRead::Unreadable
                                 : LockRead::NoLock;
    struct stat st {};
    char buffer[kLongestLock + 1];
    ssize_t n = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    const auto parsed = n > 0 && n <= kLongestLock ? parsePid(QByteArray(buffer, n)) : std::nullopt;
    if (!parsed)
        return LockRead::NoLock;
    pid = *parsed;
    return LockRead::Pid;
}

bool processAlive(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

// A lock we may not read belongs to someone who wants it kept: it counts as live.
Owner lockOwner(const QByteArray &file) {
    pid_t pid = 0;
    switch (readLock(file, pid)) {
    case LockRead::Missing:
        return Owner::None;
    case LockRead::Unreadable:
        return Owner::Live;
    case LockRead::Pid:
        return processAlive(pid) ? Owner::Live : Owner::Stale;
    case LockRead::NoLock:
        break;
    }
    return Owner::Stale;
}

// 0 or the errno of the failure. O_EXCL fails on anything already at the path, a link
// included, so nothing is written through one.
int createLock(const QByteArray &file) {
    const int fd = ::open(file.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno;
    const QByteArray content = QByteArray::number(::getpid()).rightJustified(10, ' ') + '\n';
    const bool written = ::write(fd, content.constData(), content.size()) == content.size();
    if (::close(fd) == 0 && written)
        return 0;
    ::unlink(file.constData());
    return EIO;
}

} // namespace

QStringList lockDirectories() {
    const QString chosen = qEnvironmentVariable("KALVOSAN_LOCK_DIR");
    if (!chosen.isEmpty())
        return {chosen};
    return {QStringLiteral("/var/lock"), QStringLiteral("/run/lock")};
}

bool lockedByLiveProcess(const QString &path, const QStringList &lockDirs) {
    return std::any_of(lockDirs.begin(), lockDirs.end(), [&](const QString &dir) {
        return lockOwner(lockFile(dir, path)) == Owner::Live;
    });
}

bool UucpLock::acquire(const QString &path, const QStringList &lockDirs) {
    release();
    for (const QString &dir : lockDirs) {
        const QByteArray file = lockFile(dir, path);
        const Owner owner = lockOwner(file);
        if (owner == Owner::Live)
            return false;
        if (owner == Owner::Stale)
            ::unlink(file.constData());
    }
    for (const QString &dir : lockDirs) {
        const QByteArray file = lockFile(dir, path);
        const int error = createLock(file);
        if (error == 0) {
            m_file = file;
            return true;
        }
        // Another program may have locked the port since we looked; what we could not remove
        // or create only leaves the port without a lock file of ours.
        if (error == EEXIST && lockOwner(file) == Owner::Live)
            return false;
    }
    return true;
}

void UucpLock::release() {
    if (m_file.isEmpty())
        return;
    pid_t pid = 0;
    if (readLock(m_file, pid) == LockRead::Pid && pid == ::getpid())
        ::unlink(m_file.constData());
    m_file.clear();
}

} // namespace serial
