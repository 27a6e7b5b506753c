#include "serial/open_failure.h"

#include "serial/uucp_lock.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace serial {

namespace {

// Who may open the device at path, for a permission problem: its group where the group may read
// and write it, else its owner.
QString whoMayOpen(const QString &path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    // The _r forms: the reason may be asked for on any thread.
    char buffer[4096];
    if ((st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)) {
        group entry{};
        group *found = nullptr;
        const bool named =
            ::getgrgid_r(st.st_gid, &entry, buffer, sizeof buffer, &found) == 0 && found;
        return QStringLiteral("the device belongs to group %1; a member of it may open it")
            .arg(named ? QString::fromLocal8Bit(found->gr_name) : QString::number(st.st_gid));
    }
    passwd entry{};
    passwd *found = nullptr;
    const bool named = ::getpwuid_r(st.st_uid, &entry, buffer, sizeof buffer, &found) == 0 && found;
    return QStringLiteral("only its owner, %1, may open it")
        .arg(named ? QString::fromLocal8Bit(found->pw_name) : QString::number(st.st_uid));
}

QString heldBy(const QString &path, const QStringList &lockDirs) {
    const auto holder = lockHolder(path, lockDirs);
    if (!holder)
        return QStringLiteral("held by another program");
    if (holder->pid == 0)
        return QStringLiteral("held by another program (lock file %1)").arg(holder->file);
    return QStringLiteral("held by another program (lock file %1, process %2)")
        .arg(holder->file)
        .arg(holder->pid);
}

} // namespace

QString accessProblem(const QString &path) {
    if (::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0 || errno != EACCES)
        return {};
    return openFailureReason(path, EACCES, {});
}

QString openFailureReason(const QString &path, int error, const QStringList &lockDirs) {
    switch (error) {
    case EBUSY:
        return heldBy(path, lockDirs);
    case ENOTTY:
        return QStringLiteral("not a serial port");
    case EACCES:
    case EPERM: {
        const QString who = whoMayOpen(path);
        if (!who.isEmpty())
            return QStringLiteral("Permission denied (%1)").arg(who);
        break;
    }
    default:
        break;
    }
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace serial
