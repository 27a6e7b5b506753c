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
#include <utility>

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
    const int fd = ::open(encodeBytes(path).constData(), flags | O_NONBLOCK, 0666);
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

namespace {

constexpr char16_t kRawByteBase = 0xDC00;

// The code point of the valid UTF-8 sequence at `at` and its length; length 0 for none.
std::pair<char32_t, int> utf8At(const QByteArray &bytes, qsizetype at) {
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    const int length = lead < 0x80   ? 1
                       : lead < 0xC2 ? 0
                       : lead < 0xE0 ? 2
                       : lead < 0xF0 ? 3
                       : lead < 0xF5 ? 4
                                     : 0;
    if (length == 0 || at + length > bytes.size())
        return {0, 0};
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return {0, 0};
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    // Overlong forms, surrogates and code points past Unicode are no valid UTF-8.
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        return {0, 0};
    return {code, length};
}

} // namespace

QString decodeBytes(const QByteArray &bytes) {
    QString text;
    text.reserve(bytes.size());
    for (qsizetype at = 0; at < bytes.size();) {
        const auto [code, length] = utf8At(bytes, at);
        if (length == 0) {
            text += QChar(char16_t(kRawByteBase + static_cast<unsigned char>(bytes[at])));
            ++at;
            continue;
        }
        text += QString::fromUcs4(&code, 1);
        at += length;
    }
    return text;
}

QByteArray encodeBytes(const QString &text) {
    QByteArray bytes;
    qsizetype run = 0; // start of the characters not yet encoded
    for (qsizetype i = 0; i <= text.size(); ++i) {
        const bool raw = i < text.size() && text[i].unicode() >= kRawByteBase + 0x80 &&
                         text[i].unicode() <= kRawByteBase + 0xFF;
        if (!raw && i < text.size())
            continue;
        bytes += QStringView(text).mid(run, i - run).toUtf8();
        if (raw)
            bytes += char(text[i].unicode() - kRawByteBase);
        run = i + 1;
    }
    return bytes;
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
