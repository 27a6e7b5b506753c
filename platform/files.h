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
// file that cannot be opened. The opened file has no name: callers keep the path.
bool openWithoutBlocking(QFile &file, const QString &path, QIODevice::OpenMode mode);

// Writes all bytes, then flushes and closes the file; false when any of these failed (a full
// disk often shows only at the flush or the close).
bool writeAndClose(QFile &file, const char *data, qint64 size);

// Replaces whatever entry is at path (a file, a symbolic link, dangling too) by a new file with
// the given bytes. The new file is created exclusively, so a link planted between removal and
// creation makes this fail rather than write through it. False when the file could not be
// created or written in full.
bool writeFreshFile(const QString &path, const char *data, qint64 size);

// A write beyond the file-size limit (ulimit -f) then fails with EFBIG, as on a full disk,
// instead of killing the process with SIGXFSZ.
void ignoreFileSizeLimitSignal();

} // namespace platform
