#include "transmit/send_timing.h"

#include "transmit/send_logic.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <bit>

namespace transmit {

namespace {

double toMs(std::int64_t ns) {
    return double(ns) / 1e6;
}

} // namespace

int GapHistogram::bucketOf(std::int64_t ns) {
    const auto v = static_cast<std::uint64_t>(std::max<std::int64_t>(ns, 0));
    if (v < (1u << (kSubBits + 1)))
        return int(v);
    // Values from 2^(k) to 2^(k+1) share 512 buckets of width 2^(k-9).
    const int shift = std::bit_width(v) - 1 - kSubBits;
    const int bucket = ((shift + 1) << kSubBits) + int((v >> shift) - (1u << kSubBits));
    return std::min(bucket, kBuckets - 1);
}

std::int64_t GapHistogram::lowestOf(int bucket) {
    if (bucket < (2 << kSubBits))
        return bucket;
    const int shift = (bucket >> kSubBits) - 1;
    const std::int64_t sub = (bucket & ((1 << kSubBits) - 1)) + (1 << kSubBits);
    return sub << shift;
}

void GapHistogram::record(std::int64_t ns) {
    ++m_buckets[bucketOf(ns)];
    ++m_count;
    m_largest = std::max(m_largest, ns);
}

void GapHistogram::clear() {
    m_buckets.fill(0);
    m_count = 0;
    m_largest = 0;
}

std::int64_t GapHistogram::quantile(double q) const {
    if (m_count == 0)
        return 0;
    // The rank of the gap asked for, counted from 1: the median of 5 is the 3rd.
    const auto rank = std::max<std::int64_t>(1, std::int64_t(q * double(m_count) + 0.999999));
    std::int64_t seen = 0;
    for (int b = 0; b < kBuckets; ++b) {
        seen += m_buckets[b];
        if (seen >= rank)
            return middleOf(b);
    }
    return m_largest;
}

std::int64_t GapHistogram::middleOf(int bucket) const {
    const std::int64_t low = lowestOf(bucket);
    const std::int64_t high = bucket + 1 < kBuckets ? lowestOf(bucket + 1) : low + 1;
    return std::min((low + high - 1) / 2, m_largest);
}

namespace {

constexpr int kDisplayBars = 40;

// The least of 1, 2 and 5 times a power of ten nanoseconds that is at least ns.
std::int64_t roundWidth(double ns) {
    std::int64_t power = 1;
    for (;;) {
        for (const int m : {1, 2, 5})
            if (double(m * power) >= ns)
                return m * power;
        power *= 10;
    }
}

} // namespace

std::vector<HistogramBucket> displayBuckets(const GapHistogram &histogram, double pauseMs) {
    if (histogram.count() == 0)
        return {};
    double low = double(histogram.quantile(0.001));
    double high = double(histogram.quantile(0.999));
    if (pauseMs > 0) {
        // The pause and its late mark are always in the picture.
        low = std::min(low, pauseMs * 1e6 * 0.9);
        high = std::max(high, pauseMs * 1e6 * 1.1);
    }
    // Gaps all alike (no pause asked for) still get a scale: a tenth of their length.
    if (const double least = high * 0.1; high - low < least) {
        low = std::max(0.0, (low + high - least) / 2);
        high = low + least;
    }
    const std::int64_t width = roundWidth(std::max((high - low) / kDisplayBars, 1.0));
    const std::int64_t first = std::int64_t(low) / width * width;
    const int bars = int((std::int64_t(high) - first) / width) + 1;
    std::vector<HistogramBucket> buckets;
    if (first > 0)
        buckets.push_back({0, 0});
    const std::size_t firstBar = buckets.size();
    for (int i = 0; i <= bars; ++i) // the last one: all gaps above
        buckets.push_back({toMs(first + i * width), 0});
    histogram.forEachBucket([&](std::int64_t ns, std::int64_t count) {
        if (ns < first)
            buckets.front().count += count;
        else
            buckets[firstBar + std::size_t(std::min<std::int64_t>((ns - first) / width, bars))]
                .count += count;
    });
    return buckets;
}

void GapRecorder::start(double lineDelayMs) {
    m_histogram.clear();
    m_lineDelayMs = std::max(lineDelayMs, 0.0);
    m_firstDelayMs = -1;
    m_leastDelayMs = m_mostDelayMs = 0;
    m_bytes = 0;
    m_late = 0;
    m_early = 0;
    m_previousNs = -1;
    m_previousPauseMs = 0;
}

void GapRecorder::byteDone(std::int64_t ns, double delayMs, bool lineEnd) {
    delayMs = std::max(delayMs, 0.0);
    if (m_bytes++ == 0) {
        m_firstDelayMs = m_leastDelayMs = m_mostDelayMs = delayMs;
    } else {
        m_leastDelayMs = std::min(m_leastDelayMs, delayMs);
        m_mostDelayMs = std::max(m_mostDelayMs, delayMs);
    }
    if (m_previousNs >= 0) {
        const std::int64_t gap = ns - m_previousNs;
        m_histogram.record(gap);
        if (m_previousPauseMs > 0 && toMs(gap) > m_previousPauseMs * 1.1)
            ++m_late;
        if (m_previousPauseMs > 0 && toMs(gap) < m_previousPauseMs * (1 - SendSchedule::kLateShare))
            ++m_early;
    }
    m_previousNs = ns;
    m_previousPauseMs = delayMs + (lineEnd ? m_lineDelayMs : 0.0);
}

TimingReport GapRecorder::report() const {
    TimingReport r;
    r.bytes = m_bytes;
    r.delayMs = std::max(m_firstDelayMs, 0.0);
    r.lineDelayMs = m_lineDelayMs;
    r.delayChanged = m_leastDelayMs != m_mostDelayMs;
    r.leastDelayMs = m_leastDelayMs;
    r.mostDelayMs = m_mostDelayMs;
    r.gaps = m_histogram.count();
    r.medianMs = toMs(m_histogram.quantile(0.5));
    r.p99Ms = toMs(m_histogram.quantile(0.99));
    r.largestMs = toMs(m_histogram.largest());
    r.late = m_late;
    r.early = m_early;
    r.histogram = displayBuckets(m_histogram, r.delayMs);
    return r;
}

QString timingReportText(const TimingReport &r) {
    const auto ms = [](double v) { return QString::number(v, 'f', 3) + QStringLiteral(" ms"); };
    QString text =
        QStringLiteral("Bytes sent: %1\nDelay asked for: %2").arg(r.bytes).arg(ms(r.delayMs));
    if (r.delayChanged)
        text += QStringLiteral(", changed during the send (%1 to %2)")
                    .arg(ms(r.leastDelayMs), ms(r.mostDelayMs));
    text += u'\n';
    if (r.lineDelayMs > 0)
        text += QStringLiteral("Line delay asked for: %1\n").arg(ms(r.lineDelayMs));
    text += QStringLiteral("Gap between bytes: median %1, 99 % below %2, largest %3\n")
                .arg(ms(r.medianMs), ms(r.p99Ms), ms(r.largestMs));
    text +=
        QStringLiteral("Gaps more than 10 % over their pause: %1 of %2\n").arg(r.late).arg(r.gaps);
    text += QStringLiteral("Gaps more than 2 % short of their pause: %1 of %2")
                .arg(r.early)
                .arg(r.gaps);
    if (r.measuredAtThisEnd)
        text += QStringLiteral("\nMeasured where the bytes left this machine, not at the device");
    if (r.measuredInKernelBuffer)
        text += QStringLiteral("\nMeasured where the bytes entered the kernel's buffer of a "
                               "pseudo-terminal, not at its reader");
    return text;
}

QByteArray sendReportJson(qint64 sent, std::int64_t durationNs, const TimingReport &r) {
    const double seconds = double(durationNs) / 1e9;
    QJsonObject object{
        {QStringLiteral("sent"), double(sent)},
        {QStringLiteral("duration_ms"), toMs(durationNs)},
        {QStringLiteral("bytes_per_second"), seconds > 0 ? double(sent) / seconds : 0.0},
    };
    if (r.bytes > 0) {
        object.insert(QStringLiteral("bytes"), double(r.bytes));
        object.insert(QStringLiteral("delay_ms"), r.delayMs);
        object.insert(QStringLiteral("line_delay_ms"), r.lineDelayMs);
        object.insert(QStringLiteral("delay_changed"), r.delayChanged);
        object.insert(QStringLiteral("least_delay_ms"), r.leastDelayMs);
        object.insert(QStringLiteral("most_delay_ms"), r.mostDelayMs);
        object.insert(QStringLiteral("gaps"), double(r.gaps));
        object.insert(QStringLiteral("median_ms"), r.medianMs);
        object.insert(QStringLiteral("p99_ms"), r.p99Ms);
        object.insert(QStringLiteral("largest_ms"), r.largestMs);
        object.insert(QStringLiteral("late_gaps"), double(r.late));
        object.insert(QStringLiteral("early_gaps"), double(r.early));
        QJsonArray buckets;
        for (const HistogramBucket &bucket : r.histogram)
            buckets.append(QJsonObject{{QStringLiteral("lower_ms"), bucket.lowerMs},
                                       {QStringLiteral("count"), double(bucket.count)}});
        object.insert(QStringLiteral("histogram"), buckets);
        object.insert(QStringLiteral("measured_at"),
                      r.measuredAtThisEnd        ? QStringLiteral("this end")
                      : r.measuredInKernelBuffer ? QStringLiteral("kernel buffer")
                                                 : QStringLiteral("line"));
    }
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

} // namespace transmit
