// Proof of the pause per byte: the time from one byte's completion to the next byte's
// completion, recorded for every byte of a delayed send, and the report made of it at the end.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <array>
#include <cstdint>
#include <vector>

namespace transmit {

// A fixed-size log-linear histogram of gaps in nanoseconds: exact below 1024 ns, within 1/512
// of the value above (2 us at 1 ms), up to about 18 minutes; longer gaps fall into the last
// bucket. Recording is a few instructions and never allocates, so it does not disturb the
// timing it measures.
class GapHistogram {
public:
    void record(std::int64_t ns);
    void clear();
    std::int64_t count() const { return m_count; }
    std::int64_t largest() const { return m_largest; }
    // The gap below which the fraction q (0..1) of all gaps lie, at the middle of its bucket.
    std::int64_t quantile(double q) const;
    // Calls f(ns, count) for each bucket that holds gaps, in order, ns the bucket's middle.
    template <class F> void forEachBucket(F f) const {
        for (int b = 0; b < kBuckets; ++b)
            if (m_buckets[b] != 0)
                f(middleOf(b), std::int64_t(m_buckets[b]));
    }

private:
    static constexpr int kSubBits = 9;    // 512 sub-buckets per power of two
    static constexpr int kExponents = 32; // up to 2^41 ns
    static constexpr int kBuckets = (kExponents + 1) << kSubBits;
    static int bucketOf(std::int64_t ns);
    static std::int64_t lowestOf(int bucket);
    std::int64_t middleOf(int bucket) const;

    std::array<std::uint32_t, kBuckets> m_buckets{};
    std::int64_t m_count = 0;
    std::int64_t m_largest = 0;
};

// A bar of the picture of the gaps: the gaps from lowerMs up to the next bar's lower bound
// (the last bar: and above).
struct HistogramBucket {
    double lowerMs = 0;
    std::int64_t count = 0;
    bool operator==(const HistogramBucket &) const = default;
};

// The gaps of a histogram in some forty bars of a round width (1, 2 or 5 times a power of ten)
// around the pause asked for: from below the pause and the shortest gaps to above the 10 % late
// mark and the longest but the rarest, with one bar from 0 for the gaps below them and one for
// the gaps above. Empty without gaps.
std::vector<HistogramBucket> displayBuckets(const GapHistogram &histogram, double pauseMs);

// What a delayed send reports at its end.
struct TimingReport {
    std::int64_t bytes = 0; // bytes sent one at a time
    double delayMs = 0;     // the pause asked for after each byte (the first one asked for)
    double lineDelayMs = 0; // and after each line feed on top of it
    // The delay was changed while the send ran: the least and the most asked for.
    bool delayChanged = false;
    double leastDelayMs = 0;
    double mostDelayMs = 0;
    std::int64_t gaps = 0; // gaps measured: one fewer than the bytes
    double medianMs = 0;
    double p99Ms = 0;
    double largestMs = 0;
    std::int64_t late = 0; // gaps more than 10 % over the pause asked for (none without one)
    // Gaps shorter than their pause by more than the schedule's margin (2 %).
    std::int64_t early = 0;
    std::vector<HistogramBucket> histogram; // displayBuckets of the gaps
    // The gaps are those between the bytes leaving this machine (a network port), not on the
    // device's line: the server's own timing is not in them.
    bool measuredAtThisEnd = false;
    // The gaps are those between the bytes entering the kernel's buffer (a pseudo-terminal,
    // whose reader may take them much later, in one go).
    bool measuredInKernelBuffer = false;
    bool empty() const { return gaps == 0; }
};

// Records the gaps of one send and counts the late and the early ones against the pause each
// byte was given: the delay asked for when it went out, and the line delay after a line feed. A
// gap after a pause of 0 is neither: nothing was asked of it.
class GapRecorder {
public:
    void start(double lineDelayMs);
    // A byte's write has completed at `ns` (steady clock) and gets the pause `delayMs` (and
    // the line delay when `lineEnd`, a line feed) before the next.
    void byteDone(std::int64_t ns, double delayMs, bool lineEnd);
    // Whole chunks went out since the last byte: the next byte's gap is none between two bytes
    // sent one at a time.
    void interrupt() { m_previousNs = -1; }
    TimingReport report() const;

private:
    GapHistogram m_histogram;
    double m_lineDelayMs = 0;
    double m_firstDelayMs = -1;
    double m_leastDelayMs = 0;
    double m_mostDelayMs = 0;
    std::int64_t m_bytes = 0;
    std::int64_t m_late = 0;
    std::int64_t m_early = 0;
    std::int64_t m_previousNs = -1;
    double m_previousPauseMs = 0;
};

// The report for a person: one line each, milliseconds with three decimals.
QString timingReportText(const TimingReport &report);
// What a send reports as a JSON object (numbers in milliseconds): the bytes that went out, the
// time it took and the throughput, and for a send byte by byte its timing report.
QByteArray sendReportJson(qint64 sent, std::int64_t durationNs, const TimingReport &timing);

} // namespace transmit
