#include "transmit/temp_file.h"

#include <QFile>
#include <QFileInfo>

namespace transmit {

bool writeFreshFile(const QString &path, const char *data, qint64 size) {
    const QFileInfo entry(path);
    // A dangling link does not "exist", yet it would be followed by an ordinary create.
    if (entry.exists() || entry.isSymLink()) {
        if (entry.isDir() && !entry.isSymLink())
            return false;
        if (!QFile::remove(path))
            return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    if (size > 0 && file.write(data, size) != size)
        return false;
    return file.flush();
}

} // namespace transmit
