// UUCP lock files ("LCK..ttyUSB0" holding the owner's PID), the way minicom, picocom and other
// serial tools mark a port they use. The directories are a parameter so that tests (and test
// programs, through KALVOSAN_LOCK_DIR) never touch the system's own.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace serial {

// KALVOSAN_LOCK_DIR when set, otherwise /var/lock and /run/lock (one folder on most systems:
// /var/lock links to /run/lock; looking in both costs nothing where they differ).
QStringList lockDirectories();

// Whether a live process holds the device at path by a lock file in one of the directories.
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
