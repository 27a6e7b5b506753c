#include "serial/open_failure.h"

#include "serial/uucp_lock.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace serial {

namespace {

QString groupOf(const QString &path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    // getgrgid_r: the reason may be asked for on any thread.
    group entry{};
    group *found = nullptr;
    char buffer[4096];
    if (::getgrgid_r(st.st_gid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return QString::fromLocal8Bit(found->gr_name);
    return QString::number(st.st_gid);
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

QString openFailureReason(const QString &path, int error, const QStringList &lockDirs) {
    switch (error) {
    case EBUSY:
        return heldBy(path, lockDirs);
    case ENOTTY:
        return QStringLiteral("not a serial port");
    case EACCES:
    case EPERM: {
        const QString group = groupOf(path);
        if (!group.isEmpty())
            return QStringLiteral("Permission denied (the device belongs to group %1; a member "
                                  "of it may open it)")
                .arg(group);
        break;
    }
    default:
        break;
    }
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace serial
