// The pure parts of a transmission: the per-byte busy-wait, the progress bar's scale, the
// title of a running send and the path of the editor's temporary file.
#pragma once

#include <QString>
#include <QtGlobal>
#include <atomic>
#include <cstdint>

namespace transmit {

// Bytes read from the send file per pass of the worker.
inline constexpr int kChunkSize = 4096;
// The delay value that means "no delay": chunks go out whole.
inline constexpr int kWholeChunks = -1;

// The wait after each byte for a per-byte delay in milliseconds; 0 and below wait nothing.
// Taken in 64 bits, so no delay overflows.
std::int64_t delayMicroseconds(int delayMs);

// Busy-waits on the monotonic clock without sleeping or yielding, so that delays far below
// the scheduler's tick are kept. Returns early once `running` drops, so that an Abort never
// waits for a long delay. Nothing happens for us <= 0.
void WaitMicroseconds(std::int64_t us, const std::atomic<bool> &running);

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

// "Kalvosan - Bytes send: %d (%d)": bytes sent so far and the send file's current length.
QString sendTitle(qint64 sent, qint64 fileLength);

// "temp.bin" in the given directory, with one "/" between them.
QString tempFilePath(const QString &directory);

} // namespace transmit
