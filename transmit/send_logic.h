// The pure parts of a transmission: the per-byte busy-wait, the progress bar's scale, the
// title of a running send and the path of the editor's temporary file.
#pragma once

#include <QString>
#include <QtGlobal>
#include <atomic>
#include <cstdint>
#include <utility>

namespace transmit {

// Bytes read from the send file per pass of the worker.
inline constexpr int kChunkSize = 4096;
// The delay value that means "no delay": chunks go out whole.
inline constexpr int kWholeChunks = -1;

// How the write of a chunk (or of one byte) ended, and how many of its bytes the port took.
// A mode-2 write that timed out counts as written: its rest is dropped by design.
enum class WriteEnd { Written, Stopped, Failed };
struct ChunkResult {
    WriteEnd end = WriteEnd::Written;
    qint64 taken = 0;
};

// The wait after each byte for a per-byte delay in milliseconds (fractions too); 0, negative
// values and NaN wait nothing, and no delay overflows.
std::int64_t delayNanoseconds(double delayMs);

// Busy-waits on the monotonic clock without sleeping or yielding, so that delays far below
// the scheduler's tick are kept. Returns early once `running` drops, so that an Abort never
// waits for a long delay. Nothing happens for ns <= 0.
void WaitNanoseconds(std::int64_t ns, const std::atomic<bool> &running);

// The progress bar takes int; a file beyond that range is shown in units of `divisor` bytes.
class ProgressScale {
public:
    explicit ProgressScale(qint64 length);
    int maximum() const { return m_maximum; }
    // The bar position for `done` bytes, kept within the range.
    int position(qint64 done) const;

private:
    qint64 m_divisor = 1;
    int m_maximum = 0;
};

// The latest count of a running send for the title and the progress bar. The worker reports
// every chunk; a queued update is posted only when the previous one has been shown, so a busy
// window never falls behind by more than one update, and the last count always arrives.
class ProgressMailbox {
public:
    // Stores the count; calls post() when no update is waiting to be shown.
    template <class Post> void report(qint64 sent, qint64 fileLength, Post &&post) {
        m_sent = sent;
        m_length = fileLength;
        if (!m_waiting.exchange(true))
            post();
    }
    // On the UI thread, in the posted update: the latest count (sent, file length).
    std::pair<qint64, qint64> take() {
        m_waiting = false;
        return {m_sent.load(), m_length.load()};
    }

private:
    std::atomic<qint64> m_sent{0};
    std::atomic<qint64> m_length{0};
    std::atomic<bool> m_waiting{false};
};

// "Kalvosan - Bytes send: %d (%d)": bytes sent so far and the send file's current length.
QString sendTitle(qint64 sent, qint64 fileLength);

// "temp.bin" in the given directory, with one "/" between them.
QString tempFilePath(const QString &directory);

} // namespace transmit
