// LoaderWorker: turns the file named by g_loadPath into hex lines, block by block,
// and follows the file while it grows. Lines reach the list by one queued call per block onto
// the UI thread; the worker itself never waits for that thread.
#include "loader/loader_worker.h"

#include "loader/hexline.h"

#include <QFile>
#include <QListWidget>
#include <QMetaObject>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace loader {
namespace {

using hexline::kBytesPerLine;
using hexline::kLoaderByteLimit;

// The label of a line is the list's count at the moment the line is appended; the worker
// formats "0000" as a placeholder and the UI thread fills in the count.
void setLabel(QString &line, int count) {
    if (count <= 0xFFFF)
        hexline::setLabelDigits(reinterpret_cast<char16_t *>(line.data()), count);
    else
        line = hexline::label(count).append(QStringView(line).mid(hexline::kLabelLength));
}

// Runs on the UI thread, as the queued call of one block.
void applyBlock(const QPointer<QListWidget> &list, std::uint64_t generation, bool clear,
                QStringList &lines) {
    if (generation != g_generation.load())
        return; // stopped or superseded by a later Start: the block is dropped
    QListWidget *listWidget = list.data();
    if (listWidget == nullptr)
        return; // the host destroyed its list
    if (clear)
        listWidget->clear();
    if (lines.isEmpty())
        return;
    int count = listWidget->count();
    for (QString &line : lines)
        setLabel(line, count++);
    listWidget->addItems(lines);
}

// Formats lines on the worker and posts them to the list's thread.
class Delivery {
public:
    explicit Delivery(const WorkerTarget &target) : m_target(target) {}

    void clear() { post(true, {}); }

    // n is a multiple of 16.
    void fullLines(const std::uint8_t *bytes, int n) {
        QStringList lines;
        lines.reserve(n / kBytesPerLine);
        for (int at = 0; at < n; at += kBytesPerLine)
            lines.append(makeLine(bytes + at, kBytesPerLine));
        post(false, std::move(lines));
    }

    void tailLine(const std::uint8_t *bytes, int count) {
        post(false, QStringList{makeLine(bytes, count)});
    }

private:
    static QString makeLine(const std::uint8_t *bytes, int count) {
        QString line(hexline::kHexPartLength + count, Qt::Uninitialized);
        hexline::formatLine(reinterpret_cast<char16_t *>(line.data()), 0, bytes, count);
        return line;
    }

    void post(bool clear, QStringList lines) {
        QMetaObject::invokeMethod(
            m_target.context,
            [list = m_target.list, generation = m_target.generation, clear,
             lines = std::move(lines)]() mutable { applyBlock(list, generation, clear, lines); },
            Qt::QueuedConnection);
    }

    const WorkerTarget &m_target;
};

// The file, read with plain POSIX calls: O_NONBLOCK so that a FIFO never blocks the worker.
// A seekable file steps back over an incomplete line; a FIFO cannot, so its bytes are kept
// for the next read instead.
class Source {
public:
    explicit Source(const QString &path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {
        m_seekable = m_fd >= 0 && ::lseek(m_fd, 0, SEEK_CUR) >= 0;
    }
    ~Source() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Source(const Source &) = delete;
    Source &operator=(const Source &) = delete;

    bool isOpen() const { return m_fd >= 0; }

    // Reads up to `want` bytes (a multiple of 16) into buf and keeps only whole lines.
    // Returns the bytes of whole lines, or -1 on a read error.
    int readLines(std::uint8_t *buf, int want) {
        const int got = readWithCarry(buf, want);
        if (got < 0)
            return -1;
        const int r = got % kBytesPerLine;
        if (r != 0) {
            if (m_seekable)
                ::lseek(m_fd, -r, SEEK_CUR);
            else
                keepCarry(buf + got - r, r);
        }
        return got - r;
    }

    // Reads up to 16 bytes for the tail line; 0 at the end or on an error.
    int readTail(std::uint8_t *buf) { return std::max(readWithCarry(buf, kBytesPerLine), 0); }

private:
    // The carry comes first, then what read() gives; "nothing yet" (EAGAIN, EINTR) is 0.
    int readWithCarry(std::uint8_t *buf, int want) {
        const int carry = m_carryLength;
        std::memcpy(buf, m_carry, carry);
        m_carryLength = 0;
        const ssize_t n = ::read(m_fd, buf + carry, want - carry);
        if (n >= 0)
            return carry + static_cast<int>(n);
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return carry;
        return -1;
    }

    void keepCarry(const std::uint8_t *bytes, int count) {
        std::memcpy(m_carry, bytes, count);
        m_carryLength = count;
    }

    int m_fd;
    bool m_seekable = false;
    std::uint8_t m_carry[kBytesPerLine] = {};
    int m_carryLength = 0;
};

} // namespace

int LoaderWorker(WorkerTarget target) {
    Delivery out(target);
    out.clear();
    Source source(g_loadPath);
    if (!source.isOpen())
        return 0;

    std::uint8_t buf[kBlockSize];
    int total = 0;
    while (g_stopFlag.load() == 0) {
        // Taken before the read: bytes written before Finish are then all seen by this read,
        // so none of them can be cut off as a tail.
        const bool finishing = g_finishFlag.load() != 0;
        const int n = source.readLines(buf, std::min(kLoaderByteLimit - total, kBlockSize));
        if (n < 0)
            return 0; // a read error ends the run as at the end of the file, without a tail
        if (n == 0) {
            if (finishing)
                break;
            waitStep(kWaitStep);
            continue;
        }
        out.fullLines(buf, n);
        total += n;
        if (total >= kLoaderByteLimit)
            return 0; // the byte limit: no tail line
    }

    std::uint8_t tail[kBytesPerLine];
    const int m = source.readTail(tail);
    if (m > 0)
        out.tailLine(tail, m);
    return 0;
}

} // namespace loader
