// The pure parts of a transmission: the per-byte wait, the progress bar's scale, the progress
// handed from the worker to the window, the title of a running send and the path of the
// editor's temporary file.
#pragma once

#include <QString>
#include <QtGlobal>
#include <array>
#include <atomic>
#include <cstdint>
#include <optional>

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

// The monotonic clock in nanoseconds, the clock of every pause and gap of a send.
std::int64_t steadyNanoseconds();

// The last stretch of a wait is spent spinning on the clock: a sleep ends late by tens of
// microseconds as a rule and by some hundreds now and then (the timer waking an idle core;
// measured in a virtual machine), a spin does not. The time before it is slept, which leaves
// the core to the kernel work that moves the bytes, to the window and to other programs.
inline constexpr std::int64_t kSpinNanoseconds = 400'000;

// Waits until the monotonic clock reaches dueNs: asleep until kSpinNanoseconds before it
// (in slices, so that the run flag is looked at at least every 10 ms), then spinning without
// yielding, so that delays far below the scheduler's tick are kept. Returns early once
// `running` drops, so that an Abort never waits for a long delay.
void WaitUntil(std::int64_t dueNs, const std::atomic<bool> &running);
// The same for a wait of ns from now; nothing happens for ns <= 0.
void WaitNanoseconds(std::int64_t ns, const std::atomic<bool> &running);

// When each byte of a send byte by byte is due. The schedule is absolute: a byte's write is due
// one pause after the previous byte's due time, not after its completion, so the time a write
// takes falls inside the pause instead of adding to it. A byte is late when its write took more
// than kLateShare of its pause longer than writes usually take (the median of the last few: a
// pseudo-terminal's write takes 1 us or 10 us by turns, a UART's a byte's time on the line): the
// device held it, or the machine was busy. A late byte starts the schedule again from its own
// completion, less the usual write time, so there is never a burst of bytes to catch up; a gap
// ends more than that share of the pause early only when a write was quicker than the usual by
// more than it.
class SendSchedule {
public:
    static constexpr double kLateShare = 0.02;

    // The next byte goes out at once and starts a schedule (the first byte, or the first after
    // whole chunks).
    void restart() { m_scheduled = false; }
    // When the next byte's write is due (steady clock, ns); 0, long past, for at once.
    std::int64_t writeAt() const { return m_scheduled ? m_dueNs : 0; }
    // The write that was due at writeAt() completed at doneNs; the next byte is due pauseNs
    // after this byte's due time (the first byte and a late one: after its completion, less
    // the usual write time). True when this byte was late.
    bool byteDone(std::int64_t doneNs, std::int64_t pauseNs);
    // The usual time of a write from its due time to its completion: the median of the last
    // kRecent writes timed (0 before any).
    std::int64_t usualWriteNs() const;

private:
    static constexpr int kRecent = 31;
    bool m_scheduled = false;
    std::int64_t m_dueNs = 0;                     // when the next byte's write is due
    std::int64_t m_pauseNs = 0;                   // the pause that leads to the next byte
    std::array<std::int64_t, kRecent> m_recent{}; // write times, the latest at m_timed % kRecent
    std::int64_t m_timed = 0;
};

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

// The latest count of a running send for the title and the progress bar. The worker stores
// its count after every chunk (and every byte of a send byte by byte) without allocating,
// calling the kernel or waking anybody; the owner looks at it on a timer and once more at the
// end, so the window never falls behind and the last count always arrives.
class ProgressMailbox {
public:
    struct Count {
        qint64 sent = 0;
        qint64 length = 0;
        bool operator==(const Count &) const = default;
    };
    // How often the owner looks: about as often as a person can read a changing number.
    static constexpr int kPeriodMs = 200;

    // Worker: bytes sent so far and the send file's length.
    void report(qint64 sent, qint64 fileLength) {
        m_sent.store(sent, std::memory_order_relaxed);
        m_length.store(fileLength, std::memory_order_relaxed);
        m_fresh.store(true, std::memory_order_release);
    }
    // Owner: the latest count when it is new since the last take.
    std::optional<Count> takeNew() {
        if (!m_fresh.exchange(false, std::memory_order_acquire))
            return std::nullopt;
        return Count{m_sent.load(std::memory_order_relaxed),
                     m_length.load(std::memory_order_relaxed)};
    }
    // Before a worker starts: nothing to show.
    void clear() { m_fresh = false; }

private:
    std::atomic<qint64> m_sent{0};
    std::atomic<qint64> m_length{0};
    std::atomic<bool> m_fresh{false};
};

// "Kalvosan - Bytes send: %d (%d)": bytes sent so far and the send file's current length.
QString sendTitle(qint64 sent, qint64 fileLength);

// "temp.bin" in the given directory, with one "/" between them.
QString tempFilePath(const QString &directory);

} // namespace transmit
