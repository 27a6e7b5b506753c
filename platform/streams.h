// Pipes, FIFOs and the standard streams of the command line: reads and writes that wait in
// slices of at most 50 ms and look at the caller's run flag between them, so that a writer that
// never writes or a reader that never reads cannot keep a transfer from ending. The flags of
// a descriptor are never changed: standard input and output are shared with the shell.
#pragma once

#include <QIODevice>
#include <QString>
#include <QtGlobal>
#include <atomic>
#include <functional>

class QFile;

namespace platform {

// What readStream gives besides a count of bytes.
inline constexpr qint64 kStreamEnd = 0;      // every writer has gone and nothing is left
inline constexpr qint64 kStreamFailed = -1;  // see the errno
inline constexpr qint64 kStreamStopped = -2; // the run flag dropped while nothing came

// Waits for input, then reads what is there, up to capacity: the count, or one of the values
// above. A FIFO opened before its writer came waits for it.
qint64 readStream(int fd, char *buffer, qint64 capacity, const std::atomic<bool> &running);

struct StreamWrite {
    qint64 written = 0;
    int error = 0; // the errno of a failed write (EPIPE: the reader has gone); 0 otherwise
};
// Writes all bytes, each write at most what a pipe with room takes without waiting. While
// there is no room it waits for it as long as `running` holds; once the flag is down it writes
// only what fits now and returns the count written so far.
// A descriptor that is non-blocking of its own (see reopenNonBlocking) is written first and
// waited on only when it is full, in pieces as large as it takes. While it waits, `watch` (if
// given) gets its descriptor whenever that is readable, so that a full screen does not hold up
// the keys.
struct StreamWatch {
    int fd = -1;
    // Reads what is there; false: the descriptor is not watched any more (it ended).
    std::function<bool()> ready;
};
StreamWrite writeStream(int fd, const char *data, qint64 size, const std::atomic<bool> &running,
                        bool nonBlocking = false, const StreamWatch *watch = nullptr);

// Reads what a wait found ready on fd, up to capacity, without waiting again: the count,
// kStreamEnd, kStreamFailed (see the errno), or kStreamStopped when nothing was there after all.
qint64 readReady(int fd, char *buffer, qint64 capacity);

// A descriptor of its own on the terminal behind fd, non-blocking, so that a write need not
// ask for room first, while fd itself, shared with the shell, keeps its flags; -1 when fd is no
// terminal (or the master side of one) or it could not be opened. The caller closes it.
int reopenNonBlocking(int fd);

// What the command line reads: "-" is standard input, a FIFO is opened without waiting for its
// writer, and both are streams: `stream` gets the descriptor (a FIFO's own, non-blocking; the
// caller closes it, but never standard input) and `file` stays closed; "-" fails with EBADF when
// the program was started without standard input. Anything else is opened
// into `file` as openWithoutBlocking opens it, and `stream` is -1. False with the errno in
// `error` when nothing could be opened.
bool openInput(QFile &file, const QString &path, QIODevice::OpenMode mode, int &stream,
               int *error = nullptr);

// Run first in main, before anything opens a descriptor: a standard descriptor the program
// was started without (`>&-`) would be taken by the next open (Qt's event loop), and what is
// meant for standard output would go there. Each closed one gets /dev/null opened the other
// way round, so that a read of standard input or a write of standard output fails with EBADF
// instead of landing anywhere.
void guardStandardDescriptors();
// Whether the descriptor (0 to 2) was closed when the program started.
bool closedAtStart(int fd);

} // namespace platform
