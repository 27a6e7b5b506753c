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

// More than the PID part of any lock file; what follows it is not read.
constexpr int kLongestLock = 64;

enum class LockRead { Missing, Pid, NoPid, Link };
enum class Owner { None, Live, Stale };

// Links are resolved, so that every path to a device (/dev/serial/by-id/xyz) gives the name of
// the device itself (LCK..ttyUSB0). A pseudo-terminal gives "LCK..pts_3": its base name alone
// would clash with any other device named by a bare number.
QString lockName(const QString &devicePath) {
    QString device = QFileInfo(devicePath).canonicalFilePath();
    if (device.isEmpty())
        device = devicePath;
    const QString pts = QStringLiteral("/dev/pts/");
    return QStringLiteral("LCK..") + (device.startsWith(pts)
                                          ? QStringLiteral("pts_") + device.mid(pts.size())
                                          : QFileInfo(device).fileName());
}

QByteArray lockFile(const QString &dir, const QString &name) {
    return QFile::encodeName(dir + u'/' + name);
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The binary form: a 4-byte int in the machine's order. A PID is below 2^22 on Linux, so its
// top byte is 0, which no text lock holds.
std::optional<pid_t> binaryPid(const QByteArray &content) {
    std::int32_t pid = 0;
    if (content.size() != sizeof pid || content.indexOf('\0') < 0)
        return std::nullopt;
    std::memcpy(&pid, content.constData(), sizeof pid);
    return pid > 0 ? std::optional<pid_t>(pid) : std::nullopt;
}

} // namespace

std::optional<pid_t> parseLockPid(const QByteArray &content) {
    if (const auto binary = binaryPid(content))
        return binary;
    qsizetype i = 0;
    while (i < content.size() && isBlank(content.at(i)))
        ++i;
    long long pid = 0;
    const qsizetype digits = i;
    for (; i < content.size() && isDigit(content.at(i)); ++i) {
        pid = pid * 10 + (content.at(i) - '0');
        if (pid > INT_MAX)
            return std::nullopt;
    }
    if (i == digits || pid <= 0)
        return std::nullopt;
    return pid_t(pid);
}

namespace {

// A symbolic link planted at the lock path is not followed and is no lock: no serial tool
// makes one. Nothing but a plain file is read (a FIFO there would block a read). Whatever else
// is there and gives no PID (empty while its holder writes it, garbled, unreadable) is
// somebody's lock all the same.
LockRead readLock(const QByteArray &file, pid_t &pid) {
    const int fd = ::open(file.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            return LockRead::Missing;
        if (error == ELOOP)
            return LockRead::Link;
        // A folder this user may not search shows no lock at all; an unreadable file in a
        // folder it may search is somebody's lock.
        const QByteArray dir = file.left(file.lastIndexOf('/') + 1);
        return error == EACCES && ::access(dir.constData(), X_OK) != 0 ? LockRead::Missing
                                                                       : LockRead::NoPid;
    }
    struct stat st {};
    char buffer[kLongestLock];
    ssize_t n = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    const auto parsed = n > 0 ? parseLockPid(QByteArray(buffer, n)) : std::nullopt;
    if (!parsed)
        return LockRead::NoPid;
    pid = *parsed;
    return LockRead::Pid;
}

bool processAlive(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

// Only a lock that names a process that is gone is stale.
Owner lockOwner(const QByteArray &file, pid_t *holder = nullptr) {
    pid_t pid = 0;
    switch (readLock(file, pid)) {
    case LockRead::Missing:
        return Owner::None;
    case LockRead::Link:
        return Owner::Stale;
    case LockRead::NoPid:
        return Owner::Live;
    case LockRead::Pid:
        break;
    }
    if (!processAlive(pid))
        return Owner::Stale;
    if (holder)
        *holder = pid;
    return Owner::Live;
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

std::optional<LockHolder> lockHolder(const QString &path, const QStringList &lockDirs) {
    const QString name = lockName(path);
    for (const QString &dir : lockDirs) {
        const QByteArray file = lockFile(dir, name);
        pid_t pid = 0;
        if (lockOwner(file, &pid) == Owner::Live)
            return LockHolder{QFile::decodeName(file), pid};
    }
    return std::nullopt;
}

bool lockedByLiveProcess(const QString &path, const QStringList &lockDirs) {
    return lockHolder(path, lockDirs).has_value();
}

bool UucpLock::acquire(const QString &path, const QStringList &lockDirs) {
    release();
    const QString name = lockName(path);
    for (const QString &dir : lockDirs) {
        const QByteArray file = lockFile(dir, name);
        const Owner owner = lockOwner(file);
        if (owner == Owner::Live)
            return false;
        if (owner == Owner::Stale)
            ::unlink(file.constData());
    }
    for (const QString &dir : lockDirs) {
        const QByteArray file = lockFile(dir, name);
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
