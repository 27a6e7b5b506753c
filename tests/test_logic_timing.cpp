// The gap histogram and report of a send byte by byte, and the arrival-times file of a capture.
#include "loader/arrival_times.h"
#include "transmit/send_timing.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

using transmit::GapHistogram;
using transmit::GapRecorder;

// Quantiles from the histogram stay within its stated precision of the exact ones, for gaps
// around the delays people ask for, and the largest gap is exact.
TEST(SendTiming, HistogramQuantilesAreWithinAFewMicrosecondsOfTheExactOnes) {
    std::mt19937_64 random(7);
    std::normal_distribution<double> around1ms(1.02e6, 30e3);
    std::vector<std::int64_t> gaps;
    GapHistogram histogram;
    for (int i = 0; i < 5000; ++i) {
        const auto gap = std::int64_t(std::max(around1ms(random), 0.0));
        gaps.push_back(gap);
        histogram.record(gap);
    }
    gaps.push_back(7'400'000); // one late gap of 7.4 ms
    histogram.record(gaps.back());
    std::sort(gaps.begin(), gaps.end());
    const auto exact = [&](double q) {
        return gaps[std::size_t(std::ceil(q * double(gaps.size()))) - 1];
    };
    EXPECT_NEAR(double(histogram.quantile(0.5)), double(exact(0.5)), 2500.0);
    EXPECT_NEAR(double(histogram.quantile(0.99)), double(exact(0.99)), 2500.0);
    EXPECT_EQ(histogram.largest(), 7'400'000);
    EXPECT_EQ(histogram.count(), 5001);
    // Short and very long gaps land somewhere sensible too.
    GapHistogram edges;
    edges.record(3);
    edges.record(1000);
    edges.record(std::int64_t(1) << 50);
    EXPECT_EQ(edges.quantile(0.01), 3);
    EXPECT_EQ(edges.quantile(0.5), 1000);
    EXPECT_EQ(edges.largest(), std::int64_t(1) << 50);
}

// A gap counts as late against the pause it was to have: the line delay after a line feed.
TEST(SendTiming, LateGapsAreCountedAgainstTheirOwnPause) {
    GapRecorder recorder;
    recorder.start(1.0, 5.0);
    std::int64_t t = 0;
    const auto at = [&](double ms, bool lineEnd) {
        t += std::int64_t(ms * 1e6);
        recorder.byteDone(t, lineEnd);
    };
    at(0, false);
    at(1.05, true);  // on time
    at(6.05, false); // after the line feed: 1 + 5 ms asked, on time
    at(1.2, false);  // 20 % late
    at(1.0, false);
    const transmit::TimingReport report = recorder.report();
    EXPECT_EQ(report.bytes, 5);
    EXPECT_EQ(report.gaps, 4);
    EXPECT_EQ(report.late, 1);
    EXPECT_NEAR(report.largestMs, 6.05, 1e-9);
    EXPECT_NEAR(report.medianMs, 1.05, 0.005);
    const QString text = transmit::timingReportText(report);
    EXPECT_TRUE(text.contains("Bytes sent: 5")) << text.toStdString();
    EXPECT_TRUE(text.contains("Line delay asked for: 5.000 ms")) << text.toStdString();
    EXPECT_TRUE(text.contains("1 of 4")) << text.toStdString();
    EXPECT_TRUE(transmit::timingReportJson(report).contains("\"late_gaps\": 1"));
}

TEST(ArrivalTimes, LinesHaveOffsetTimeWithMicrosecondsAndTheUtcOffset) {
    const auto when = arrival::WallClock::time_point(std::chrono::microseconds(1765115585123456));
    const QByteArray line = arrival::line(4098, when);
    static const QRegularExpression format(
        R"(^4098\t\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.123456[+-]\d\d:\d\d\n$)");
    EXPECT_TRUE(format.match(QString::fromLatin1(line)).hasMatch()) << line.toStdString();
    EXPECT_TRUE(arrival::line(0, when, true).endsWith("\treconnected\n"));

    const auto parsed = arrival::parseLine(line.chopped(1));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->offset, 4098);
    EXPECT_EQ(parsed->time, arrival::isoTime(when));
    EXPECT_FALSE(parsed->reconnected);
    for (const char *bad : {"", "12", "x\t2026", "12\t", "-1\tt", "1\tt\tother", "1\tt\tr\tx"})
        EXPECT_FALSE(arrival::parseLine(bad)) << bad;
}

TEST(ArrivalTimes, TheBurstOfAByteIsTheLastOneStartingAtOrBeforeIt) {
    const QList<arrival::Burst> bursts = {{2, "a", false}, {20, "b", false}, {36, "c", true}};
    EXPECT_EQ(arrival::burstAt(bursts, 0), nullptr); // the header came before any burst
    EXPECT_EQ(arrival::burstAt(bursts, 2)->time, "a");
    EXPECT_EQ(arrival::burstAt(bursts, 35)->time, "b");
    EXPECT_EQ(arrival::burstAt(bursts, 36)->time, "c");
    EXPECT_EQ(arrival::burstAt(bursts, 1000)->time, "c");
    EXPECT_EQ(arrival::burstAt({}, 5), nullptr);
}

// A times file read while a capture writes it: only whole lines count, and a new capture under
// the same name starts the list over.
TEST(ArrivalTimes, AGrowingFileIsReadAsItGrowsAndAgainWhenBegunAnew) {
    QTemporaryDir dir;
    const QString path = dir.filePath("cap.bin.times");
    const auto write = [&](const QByteArray &bytes, QIODevice::OpenMode mode) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | mode));
        file.write(bytes);
    };
    arrival::SidecarReader reader(path);
    write("0\ta\n5\tb\n9\tc", QIODevice::Truncate); // the last line is being written
    ASSERT_EQ(reader.bursts().size(), 2);
    write("\n12\td\treconnected\n", QIODevice::Append);
    ASSERT_EQ(reader.bursts().size(), 4);
    EXPECT_EQ(reader.bursts().at(2).time, "c");
    EXPECT_TRUE(reader.bursts().at(3).reconnected);
    write("2\tnew\n3\tnext\n4\tthird\n5\tfourth\n", QIODevice::Truncate); // not shorter
    ASSERT_EQ(reader.bursts().size(), 4);
    EXPECT_EQ(reader.bursts().front().time, "new");
}

} // namespace
