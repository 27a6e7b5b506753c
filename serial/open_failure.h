// Why a port did not open, in words for the command line (the window keeps its own texts).
#pragma once

#include <QString>
#include <QStringList>

namespace serial {

// The system's reason for errno `error` of an open of the device at path, made useful: a port
// another program holds names the lock file and its process; a permission problem names the
// group that owns the device; what is no terminal says so.
QString openFailureReason(const QString &path, int error, const QStringList &lockDirs);

// Why this user may not open the device at path, found without opening it (the access
// check): empty when the permissions let it.
QString accessProblem(const QString &path);

} // namespace serial
