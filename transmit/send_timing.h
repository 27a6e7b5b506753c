// Proof of the pause per byte: the time from one byte's completion to the next byte's
// completion, recorded for every byte of a delayed send, and the report made of it at the end.
#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>

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

private:
    static constexpr int kSubBits = 9;    // 512 sub-buckets per power of two
    static constexpr int kExponents = 32; // up to 2^41 ns
    static constexpr int kBuckets = (kExponents + 1) << kSubBits;
    static int bucketOf(std::int64_t ns);
    static std::int64_t lowestOf(int bucket);

    std::array<std::uint32_t, kBuckets> m_buckets{};
    std::int64_t m_count = 0;
    std::int64_t m_largest = 0;
};

// What a delayed send reports at its end.
struct TimingReport {
    std::int64_t bytes = 0; // bytes sent one at a time
    double delayMs = 0;     // the pause asked for after each byte
    double lineDelayMs = 0; // and after each line feed on top of it
    std::int64_t gaps = 0;  // gaps measured: one fewer than the bytes
    double medianMs = 0;
    double p99Ms = 0;
    double largestMs = 0;
    std::int64_t late = 0; // gaps more than 10 % over the pause asked for
    // The gaps are those between the bytes leaving this machine (a network port), not on the
    // device's line: the server's own timing is not in them.
    bool measuredAtThisEnd = false;
    bool empty() const { return gaps == 0; }
};

// Records the gaps of one send and counts the late ones against the pause each gap was to
// have (the line delay counts after a line feed).
class GapRecorder {
public:
    void start(double delayMs, double lineDelayMs);
    // A byte's write has completed at `ns` (steady clock); `lineEnd` tells that it was a line
    // feed, so the gap after it includes the line delay.
    void byteDone(std::int64_t ns, bool lineEnd);
    TimingReport report() const;

private:
    GapHistogram m_histogram;
    double m_delayMs = 0;
    double m_lineDelayMs = 0;
    std::int64_t m_bytes = 0;
    std::int64_t m_late = 0;
    std::int64_t m_previousNs = 0;
    bool m_previousLineEnd = false;
};

// The report for a person: one line each, milliseconds with three decimals.
QString timingReportText(const TimingReport &report);
// The report as a JSON object (numbers in milliseconds).
QByteArray timingReportJson(const TimingReport &report);

} // namespace transmit
