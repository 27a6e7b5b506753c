#include "tests/fuzz/fuzz_files.h"

#include <QDir>
#include <QFile>
#include <unistd.h>

namespace kvfuzz {

QString scratchFile(const std::uint8_t *data, std::size_t size, const char *suffix) {
    const QString path = QDir::tempPath() + QStringLiteral("/kalvosan-fuzz-%1%2")
                                                .arg(::getpid())
                                                .arg(QLatin1String(suffix));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    return path;
}

} // namespace kvfuzz
