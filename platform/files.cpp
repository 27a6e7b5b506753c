#include "platform/files.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

int openFlags(QIODevice::OpenMode mode) {
    int flags = O_CLOEXEC | O_NONBLOCK;
    if (mode & QIODevice::WriteOnly) {
        flags |= (mode & QIODevice::ReadOnly) ? O_RDWR : O_WRONLY;
        flags |= O_CREAT;
        if (mode & QIODevice::Truncate)
            flags |= O_TRUNC;
    } else {
        flags |= O_RDONLY;
    }
    return flags;
}

} // namespace

bool openWithoutBlocking(QFile &file, const QString &path, QIODevice::OpenMode mode) {
    file.close();
    file.setFileName(path);
    if (path.isEmpty())
        return false;
    // O_NONBLOCK keeps the open of a FIFO from waiting for a writer (or a reader); a writing
    // open of a FIFO without a reader fails with ENXIO by itself.
    const int fd = ::open(QFile::encodeName(path).constData(), openFlags(mode), 0666);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
        ::close(fd);
        return false;
    }
    // Ordinary blocking semantics for the reads and writes that follow.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

bool writeAndClose(QFile &file, const char *data, qint64 size) {
    const bool written = size <= 0 || file.write(data, size) == size;
    const bool flushed = file.flush();
    file.close();
    return written && flushed && file.error() == QFileDevice::NoError;
}

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
    return writeAndClose(file, data, size);
}

void ignoreFileSizeLimitSignal() {
    std::signal(SIGXFSZ, SIG_IGN);
}

} // namespace platform
