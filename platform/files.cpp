#include "platform/files.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
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

void setError(int *error, int value) {
    if (error)
        *error = value;
}

// Opens path with the flags, refuses what would block or is no file (a FIFO, a socket, a
// directory), and hands the descriptor to `file` with ordinary blocking reads and writes: the
// descriptor, or -1 with the errno in `error`. Where `fifo` is given, a FIFO is handed back
// there instead, still non-blocking, and `file` stays closed.
int openDescriptor(QFile &file, const QString &path, int flags, QIODevice::OpenMode mode,
                   int *error, int *fifo = nullptr) {
    file.close();
    file.setFileName(path);
    if (path.isEmpty()) {
        setError(error, ENOENT);
        return -1;
    }
    // O_NONBLOCK keeps the open of a FIFO from waiting for a writer (or a reader); a writing
    // open of a FIFO without a reader fails with ENXIO by itself.
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_NONBLOCK, 0666);
    if (fd < 0) {
        setError(error, errno);
        return -1;
    }
    struct stat st {};
    int refused = 0;
    if (::fstat(fd, &st) != 0) {
        refused = errno;
    } else if (fifo && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
        *fifo = fd;
        return fd;
    } else if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))
        refused = ENXIO;
    else if (S_ISCHR(st.st_mode) && (flags & O_ACCMODE) == O_RDONLY)
        // A terminal nobody types into would hold a read for ever; /dev/null stays writable.
        refused = ENXIO;
    else if (S_ISDIR(st.st_mode))
        refused = EISDIR;
    if (refused == 0) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        if (file.open(fd, mode, QFileDevice::AutoCloseHandle))
            return fd;
        refused = EIO;
    }
    ::close(fd);
    setError(error, refused);
    return -1;
}

} // namespace

bool openWithoutBlocking(QFile &file, const QString &path, QIODevice::OpenMode mode, int *error) {
    return openDescriptor(file, path, openFlags(mode), mode, error) >= 0;
}

bool openFileOrFifo(QFile &file, const QString &path, QIODevice::OpenMode mode, int &fifo,
                    int *error) {
    fifo = -1;
    return openDescriptor(file, path, openFlags(mode) | O_NOCTTY, mode, error, &fifo) >= 0;
}

bool openHeld(QFile &file, const QString &path, Creation creation, int *error) {
    constexpr QIODevice::OpenMode kMode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    // Not truncated at the open: a file another capture holds must keep what it has. A link
    // planted at the name is not followed into the file it points at.
    const int flags = O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW |
                      (creation == Creation::New ? O_EXCL : 0);
    const int fd = openDescriptor(file, path, flags, kMode, error);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return true;
    const int failure = errno;
    file.close();
    setError(error, failure);
    return false;
}

bool keepOnly(QFile &file, qint64 size, int *error) {
    struct stat st {};
    const int fd = file.handle();
    // Only a plain file is cut: a device (/dev/null, /dev/full) has nothing to empty.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::ftruncate(fd, size) != 0) {
        setError(error, errno);
        return false;
    }
    return true;
}

bool createFresh(QFile &file, const QString &path, int *error) {
    const QFileInfo entry(path);
    // A dangling link does not "exist", yet it would be followed by an ordinary create.
    if ((entry.exists() || entry.isSymLink()) && !(entry.isDir() && !entry.isSymLink()))
        QFile::remove(path);
    constexpr QIODevice::OpenMode kMode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    return openDescriptor(file, path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kMode,
                          error) >= 0;
}

void removeFile(const QString &path) {
    const QFileInfo entry(path);
    if (entry.isSymLink() || (entry.exists() && !entry.isDir()))
        QFile::remove(path);
}

QString errorText(int error) {
    if (error == EWOULDBLOCK)
        return QStringLiteral("held by another capture");
    return QString::fromLocal8Bit(std::strerror(error));
}

bool writeAndClose(QFile &file, const char *data, qint64 size) {
    const bool written = size <= 0 || file.write(data, size) == size;
    const bool flushed = file.flush();
    file.close();
    return written && flushed && file.error() == QFileDevice::NoError;
}

bool writeFreshFile(const QString &path, const char *data, qint64 size, QString *failure) {
    QFile file;
    if (!createFresh(file, path)) {
        if (failure)
            *failure = QStringLiteral("Could not open file ") + path;
        return false;
    }
    if (writeAndClose(file, data, size))
        return true;
    // A file cut short (a full disk) must not pass for the whole one later.
    QFile::remove(path);
    if (failure)
        *failure = QStringLiteral("Could not write file ") + path;
    return false;
}

void ignoreFileSizeLimitSignal() {
    std::signal(SIGXFSZ, SIG_IGN);
}

} // namespace platform
