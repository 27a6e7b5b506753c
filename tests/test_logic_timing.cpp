// The gap histogram, report and picture of a send byte by byte, and the arrival-times file of a
// capture.
#include "loader/arrival_times.h"
#include "tests/test_pty.h"
#include "transmit/send_timing.h"
#include "transmit/timing_picture.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

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

// A gap counts as late against the pause its byte was given: the delay asked for when it went
// out, the line delay after a line feed; a pause of 0 asks nothing, so nothing is late.
TEST(SendTiming, LateGapsAreCountedAgainstTheirOwnPause) {
    GapRecorder recorder;
    recorder.start(5.0);
    std::int64_t t = 0;
    const auto at = [&](double ms, double delay, bool lineEnd = false) {
        t += std::int64_t(ms * 1e6);
        recorder.byteDone(t, delay, lineEnd);
    };
    at(0, 1.0);
    at(1.05, 1.0, true);  // on time
    at(6.05, 1.0);        // after the line feed: 1 + 5 ms asked, on time
    at(1.2, 1.0);         // 20 % late
    at(1.0, 4.0);         // the delay went up while the send ran
    at(4.2, 0.0);         // on time for 4 ms; then no pause at all
    at(0.3, 0.0);         // nothing asked: never late
    recorder.interrupt(); // whole chunks in between: no gap measured across them
    at(500, 1.0);
    at(1.0, 1.0);
    at(0.985, 1.0); // 1.5 % short: within the schedule's margin
    at(0.97, 1.0);  // 3 % short: early
    const transmit::TimingReport report = recorder.report();
    EXPECT_EQ(report.bytes, 11);
    EXPECT_EQ(report.gaps, 9);
    EXPECT_EQ(report.late, 1);
    EXPECT_EQ(report.early, 1);
    EXPECT_NEAR(report.largestMs, 6.05, 1e-9);
    EXPECT_TRUE(report.delayChanged);
    EXPECT_EQ(report.delayMs, 1.0);
    EXPECT_EQ(report.leastDelayMs, 0.0);
    EXPECT_EQ(report.mostDelayMs, 4.0);
    const QString text = transmit::timingReportText(report);
    EXPECT_TRUE(text.contains("Bytes sent: 11")) << text.toStdString();
    EXPECT_TRUE(text.contains("changed during the send (0.000 ms to 4.000 ms)"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("Line delay asked for: 5.000 ms")) << text.toStdString();
    EXPECT_TRUE(text.contains("over their pause: 1 of 9\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("short of their pause: 1 of 9")) << text.toStdString();
    const QByteArray json = transmit::sendReportJson(9, 2'000'000'000, report);
    EXPECT_TRUE(json.contains("\"late_gaps\": 1")) << json.constData();
    EXPECT_TRUE(json.contains("\"early_gaps\": 1")) << json.constData();
    EXPECT_TRUE(json.contains("\"bytes_per_second\": 4.5")) << json.constData();

    // A send that started as whole chunks and went on byte by byte without a pause.
    recorder.start(0);
    for (int i = 0; i < 5; ++i)
        at(0.01, 0.0);
    EXPECT_EQ(recorder.report().late, 0);
    EXPECT_FALSE(recorder.report().delayChanged);
}

// The picture's bars: some forty of a round width around the pause, from below its 10 % mark
// to above it, one bar from 0 for the shorter gaps and one for the longer; every gap in one.
TEST(SendTiming, HistogramBarsAreRoundAroundThePauseAndHoldEveryGap) {
    std::mt19937_64 random(11);
    std::normal_distribution<double> around1ms(1.0e6, 5e3);
    GapHistogram histogram;
    for (int i = 0; i < 2000; ++i)
        histogram.record(std::int64_t(around1ms(random)));
    histogram.record(7'400'000); // late
    histogram.record(300'000);   // early
    const auto buckets = transmit::displayBuckets(histogram, 1.0);
    ASSERT_EQ(buckets.size(), 43u);
    EXPECT_EQ(buckets[0], (transmit::HistogramBucket{0, 1}));
    EXPECT_NEAR(buckets[1].lowerMs, 0.9, 1e-12);
    EXPECT_NEAR(buckets.back().lowerMs, 1.105, 1e-12);
    EXPECT_EQ(buckets.back().count, 1);
    std::int64_t total = 0;
    for (std::size_t i = 0; i < buckets.size(); ++i) {
        total += buckets[i].count;
        if (i > 1) {
            EXPECT_NEAR(buckets[i].lowerMs - buckets[i - 1].lowerMs, 0.005, 1e-9);
        }
    }
    EXPECT_EQ(total, 2002);
    const auto tallest = std::max_element(buckets.begin(), buckets.end(),
                                          [](auto &a, auto &b) { return a.count < b.count; });
    EXPECT_NEAR(tallest->lowerMs, 0.995, 0.0051);
    EXPECT_TRUE(transmit::displayBuckets(GapHistogram(), 1.0).empty());
    // Without a pause, gaps all alike still get bars of their own scale.
    GapHistogram alike;
    for (int i = 0; i < 10; ++i)
        alike.record(20'000);
    const auto narrow = transmit::displayBuckets(alike, 0);
    EXPECT_GE(narrow.size(), 30u);
    EXPECT_LE(narrow.size(), 60u);
}

// The window's painter and the SVG take one layout: log-scaled bars (a single late gap shows),
// the pause and the 99th percentile marked where their values stand; the words say the same.
TEST(SendTiming, ThePictureMarksThePauseAndThe99thPercentile) {
    GapRecorder recorder;
    recorder.start(0);
    std::int64_t t = 0;
    for (int i = 0; i < 1001; ++i)
        recorder.byteDone(t += (i == 500 ? 1'500'000 : 1'000'000), 1.0, false);
    const transmit::TimingReport report = recorder.report();
    const transmit::TimingPicture picture = transmit::timingPicture(report, QSizeF(640, 280));
    ASSERT_EQ(picture.bars.size(), report.histogram.size());
    std::size_t onTime = 0, late = 0;
    for (std::size_t i = 0; i < report.histogram.size(); ++i) {
        if (report.histogram[i].count == 999)
            onTime = i;
        if (report.histogram[i].count == 1)
            late = i;
        EXPECT_EQ(picture.bars[i].height() > 0, report.histogram[i].count > 0) << i;
        EXPECT_NEAR(picture.bars[i].bottom(), picture.plot.bottom(), 1e-9);
    }
    EXPECT_EQ(late, report.histogram.size() - 1); // 1.5 ms is past the last bar's bound
    EXPECT_NEAR(picture.bars[onTime].height(), picture.plot.height(), 1e-9);
    EXPECT_GT(picture.bars[late].height(), picture.plot.height() / 20);
    ASSERT_TRUE(picture.pause && picture.p99);
    EXPECT_GE(picture.pause->at, picture.bars[onTime].left() - 1);
    EXPECT_LE(picture.pause->at, picture.bars[onTime].right() + 1);
    EXPECT_EQ(picture.pause->text, "pause 1.000 ms");
    EXPECT_NEAR(picture.p99->at, picture.pause->at, picture.bars[0].width() * 1.5);

    const QString words = transmit::timingDescription(report);
    EXPECT_TRUE(words.startsWith("Histogram of 1000 gaps between bytes: median 1.000 ms"))
        << words.toStdString();
    EXPECT_TRUE(words.contains("1 late, 0 early")) << words.toStdString();
    const QString svg = QString::fromUtf8(transmit::timingSvg(report));
    EXPECT_TRUE(svg.startsWith("<?xml")) << svg.toStdString();
    EXPECT_EQ(svg.count("<rect "), qsizetype(picture.bars.size()) + 1); // and the background
    EXPECT_TRUE(svg.contains("<desc>" + words.toHtmlEscaped() + "</desc>"));
    EXPECT_TRUE(svg.contains(">Gaps more than 10 % over their pause: 1 of 1000</text>"));
    EXPECT_TRUE(svg.contains(">pause 1.000 ms</text>"));
    EXPECT_TRUE(svg.trimmed().endsWith("</svg>"));
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

// The tooltip's look-up: the burst of a byte is the last one starting at or before it, found by
// searching the file, whatever its size, whatever is in it, never blocking on it.
TEST(ArrivalTimes, TheBurstOfAByteIsFoundInTheFileWithoutReadingItWhole) {
    QTemporaryDir dir;
    const QString path = dir.filePath("cap.bin.times");
    testsupport::writeFile(path, "2\ta\n20\tb\ngarbage\n36\tc\treconnected\n40\tbeing wr");
    const auto at = [&](qint64 offset) {
        const auto burst = arrival::lookup(path, offset);
        return burst ? burst->time + (burst->reconnected ? "+" : "") : QString("none");
    };
    EXPECT_EQ(at(0), "none"); // the header came before any burst
    EXPECT_EQ(at(2), "a");
    EXPECT_EQ(at(35), "b");
    EXPECT_EQ(at(36), "c+");
    EXPECT_EQ(at(1000), "c+"); // the torn last line is not one yet
    // A line of the listing: the burst of its first byte, or the first in it after a header,
    // and the device's returns in it.
    const arrival::StretchTimes header = arrival::lookupStretch(path, 0, 16);
    ASSERT_TRUE(header.first);
    EXPECT_EQ(header.first->time, "a");
    EXPECT_TRUE(header.reconnects.isEmpty());
    const arrival::StretchTimes back = arrival::lookupStretch(path, 32, 48);
    ASSERT_TRUE(back.first);
    EXPECT_EQ(back.first->time, "b");
    ASSERT_EQ(back.reconnects.size(), 1);
    EXPECT_EQ(back.reconnects.front().time, "c");

    // Half a million bursts: a look-up reads a few small pieces.
    QByteArray big;
    big.reserve(8 << 20);
    for (int i = 0; i < 500'000; ++i)
        big.append(QByteArray::number(qint64(i) * 10))
            .append("\tt")
            .append(QByteArray::number(i))
            .append('\n');
    testsupport::writeFile(path, big);
    EXPECT_EQ(at(0), "t0");
    EXPECT_EQ(at(1'234'569), "t123456");
    EXPECT_EQ(at(qint64(1) << 40), "t499999");
    // Lines far too long to be ones, and a file without a line feed: nothing, and no hang.
    testsupport::writeFile(path, QByteArray(10000, '7') + "\n5\tx\n");
    EXPECT_EQ(at(5), "x");
    testsupport::writeFile(path, QByteArray(1 << 20, '7'));
    EXPECT_EQ(at(5), "none");

    // A FIFO at the name would block an open for a writer that never comes.
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    EXPECT_EQ(at(5), "none");
    arrival::SidecarStream fifo(path);
    EXPECT_FALSE(fifo.exists());
    EXPECT_FALSE(fifo.next());
}

// The times read in order while a capture writes them: only whole lines count, a line too long
// to be one is passed over, and a new capture under the same name is read from its start.
TEST(ArrivalTimes, AGrowingFileIsReadInOrderAsItGrows) {
    QTemporaryDir dir;
    const QString path = dir.filePath("cap.bin.times");
    const auto write = [&](const QByteArray &bytes, QIODevice::OpenMode mode) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | mode));
        file.write(bytes);
    };
    arrival::SidecarStream stream(path);
    const auto next = [&] {
        const auto burst = stream.next();
        return burst ? QString::number(burst->offset) + ':' + burst->time : QString("none");
    };
    EXPECT_FALSE(stream.exists());
    EXPECT_EQ(next(), "none");
    write("0\ta\n5\tb\n9\tc", QIODevice::Truncate); // the last line is being written
    EXPECT_EQ(next(), "0:a");
    EXPECT_EQ(next(), "5:b");
    EXPECT_EQ(next(), "none");
    write("\n" + QByteArray(300000, '1') + "\t" + "\n12\td\treconnected\n", QIODevice::Append);
    EXPECT_EQ(next(), "9:c");
    EXPECT_EQ(next(), "12:d");
    EXPECT_EQ(next(), "none");
    write("2\tnew\n", QIODevice::Truncate);
    stream.restart();
    EXPECT_EQ(next(), "2:new");
}

} // namespace
