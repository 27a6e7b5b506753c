// UUCP lock files ("LCK..ttyUSB0" holding the owner's PID), the way minicom, picocom and other
// serial tools mark a port they use. The directories are a parameter so that tests (and test
// programs, through KALVOSAN_LOCK_DIR) never touch the system's own.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <sys/types.h>

namespace serial {

// KALVOSAN_LOCK_DIR when set, otherwise /var/lock and /run/lock (one folder on most systems:
// /var/lock links to /run/lock; looking in both costs nothing where they differ).
QStringList lockDirectories();

// The PID a lock file's content names, read as the UUCP tools read it: leading blanks, a
// decimal number, anything after it ignored ("%10d\n", minicom's "%10ld minicom user\n"), or
// the binary 4-byte form. None when it gives no PID (empty, garbled, 0).
std::optional<pid_t> parseLockPid(const QByteArray &content);

struct LockHolder {
    QString file;
    pid_t pid = 0; // 0 when the file gives no PID: held all the same
};

// The lock file by which another program holds the device at path, if any: one naming a live
// process, or one that gives no PID (being written, garbled, unreadable), which is never taken
// for stale.
std::optional<LockHolder> lockHolder(const QString &path, const QStringList &lockDirs);
bool lockedByLiveProcess(const QString &path, const QStringList &lockDirs);

// The lock file of one port while this program holds it.
class UucpLock {
public:
    UucpLock() = default;
    ~UucpLock() { release(); }
    UucpLock(const UucpLock &) = delete;
    UucpLock &operator=(const UucpLock &) = delete;

    // False when a live process holds the device. Otherwise stale lock files are removed and one
    // with our PID is created in the first directory that takes it; where none does (missing,
    // not writable), the port is held without a lock file.
    bool acquire(const QString &path, const QStringList &lockDirs);
    // Removes our lock file, if it still names us.
    void release();

private:
    QByteArray m_file; // empty while we hold no lock file
};

} // namespace serial
