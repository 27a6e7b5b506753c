// Files the program writes and reads where others may have put something first: a FIFO that
// would block an open for ever, a symbolic link planted at a fixed name, a full disk or a
// file-size limit. Every function reports failure instead of hanging or writing elsewhere.
#pragma once

#include <QIODevice>
#include <QString>
#include <QtGlobal>

class QFile;

namespace platform {

// Opens path in `mode` (ReadOnly, or WriteOnly with Truncate and perhaps Unbuffered) without
// ever blocking: a FIFO, which would wait in the open for its other side, is refused like a
// file that cannot be opened, and so is a directory, and for reading a character device (a
// terminal nobody types into blocks a read for ever). The opened file has no name: callers keep
// the path. `error` gets the errno of a failure.
bool openWithoutBlocking(QFile &file, const QString &path, QIODevice::OpenMode mode,
                         int *error = nullptr);

// As openWithoutBlocking, but a FIFO or a character device is taken rather than refused: its
// descriptor goes to `fifo` (non-blocking, the caller's to close; its writer may come later),
// to be read as a stream in waits a signal ends, and `file` stays closed. `fifo` is -1 for
// anything else.
bool openFileOrFifo(QFile &file, const QString &path, QIODevice::OpenMode mode, int &fifo,
                    int *error = nullptr);

// How a file that is to be written while it is held is created.
enum class Creation {
    Replace, // whatever file is at the path is emptied
    New,     // an existing file is refused (EEXIST): nothing is ever emptied
};

// Opens path for writing (unbuffered, without blocking, as openWithoutBlocking) and holds it
// exclusively by a flock until the file is closed, at the start and with what it held: the
// caller empties it (keepOnly) once nothing else can fail. A file another holder has (another
// capture of this program) is refused with EWOULDBLOCK before anything in it is touched, and a
// symbolic link at the name with ELOOP.
bool openHeld(QFile &file, const QString &path, Creation creation, int *error = nullptr);
// Cuts a plain file after its first `size` bytes (written just before: the file's position).
bool keepOnly(QFile &file, qint64 size, int *error = nullptr);

// Replaces whatever entry is at path (a file, a symbolic link, dangling too) by a new empty file
// open for writing (unbuffered). Created exclusively, so a link planted between removal and
// creation makes this fail rather than write through it.
bool createFresh(QFile &file, const QString &path, int *error = nullptr);

// Removes a file or link at path, if there is one; a directory stays.
void removeFile(const QString &path);

// Command-line arguments and file names as the bytes they are: UTF-8 is decoded, and each byte
// that is not part of valid UTF-8 (a file name in another encoding, a raw byte given to send)
// is kept as the lone surrogate U+DC80 to U+DCFF, which encodeBytes turns back into that byte.
QString decodeBytes(const QByteArray &bytes);
QByteArray encodeBytes(const QString &text);

// The errno of a file failure in words, for the command line.
QString errorText(int error);

// Writes all bytes, then flushes and closes the file; false when any of these failed (a full
// disk often shows only at the flush or the close).
bool writeAndClose(QFile &file, const char *data, qint64 size);

// Replaces whatever entry is at path (a file, a symbolic link, dangling too) by a new file with
// the given bytes. The new file is created exclusively, so a link planted between removal and
// creation makes this fail rather than write through it. False when the file could not be
// created or written in full (a file written in part is removed), with the message
// ("Could not open file " / "Could not write file " + path) in `failure`.
bool writeFreshFile(const QString &path, const char *data, qint64 size, QString *failure = nullptr);

// A write beyond the file-size limit (ulimit -f) then fails with EFBIG, as on a full disk,
// instead of killing the process with SIGXFSZ.
void ignoreFileSizeLimitSignal();

} // namespace platform
