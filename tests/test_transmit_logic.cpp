// The pure parts of a send: the schedule, the busy-wait, the progress scale, the title and the
// temporary file.
#include "platform/files.h"
#include "platform/thread_priority.h"
#include "tests/test_support.h"
#include "transmit/send_logic.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <random>
#include <sched.h>
#include <sys/prctl.h>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

TEST(SendDelay, MillisecondsBecomeNanosecondsWithoutOverflow) {
    EXPECT_EQ(transmit::delayNanoseconds(-1), 0);
    EXPECT_EQ(transmit::delayNanoseconds(0), 0);
    EXPECT_EQ(transmit::delayNanoseconds(-5), 0);
    EXPECT_EQ(transmit::delayNanoseconds(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(transmit::delayNanoseconds(7), 7000000);
    EXPECT_EQ(transmit::delayNanoseconds(0.25), 250000);
    EXPECT_EQ(transmit::delayNanoseconds(std::numeric_limits<int>::max()),
              std::int64_t(std::numeric_limits<int>::max()) * 1000000);
    EXPECT_GT(transmit::delayNanoseconds(1e300), 0);
}

TEST(SendDelay, WaitNanosecondsWaitsAtLeastTheTimeAndStopsWithTheRunFlag) {
    std::atomic<bool> running{true};
    Clock::time_point start = Clock::now();
    transmit::WaitNanoseconds(3000000, running);
    EXPECT_GE(Clock::now() - start, std::chrono::microseconds(3000));

    start = Clock::now();
    transmit::WaitNanoseconds(0, running);
    transmit::WaitNanoseconds(-10, running);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));

    // A wait of an hour ends when the flag drops.
    std::thread stopper([&running] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        running = false;
    });
    start = Clock::now();
    transmit::WaitNanoseconds(3600LL * 1000 * 1000 * 1000, running);
    stopper.join();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
}

// A device played against the schedule: each write takes its own time, the next starts when the
// schedule says (never before the last one completed); the gaps between completions are what
// the device sees.
struct ScheduledRun {
    transmit::SendSchedule schedule;
    std::int64_t doneNs = 1'000'000'000;
    std::vector<std::int64_t> completions;
    std::vector<std::int64_t> pauses; // the pause given after each byte
    int late = 0;
    void byte(std::int64_t writeNs, std::int64_t pauseNs) {
        doneNs = std::max(schedule.writeAt(), doneNs) + writeNs;
        late += schedule.byteDone(doneNs, pauseNs);
        completions.push_back(doneNs);
        pauses.push_back(pauseNs);
    }
    std::int64_t gap(std::size_t i) const { return completions[i] - completions[i - 1]; }
    // No gap ends more than 2 % of its pause early: no catch-up burst.
    bool noShortGap() const {
        for (std::size_t i = 1; i < completions.size(); ++i)
            if (double(gap(i)) < 0.98 * double(pauses[i - 1]))
                return false;
        return true;
    }
};

// Due times count from the previous byte's due time, so a steady write time of 10 us (with a
// few us of jitter) neither adds to the gaps nor drifts; a byte the device held for 5 ms is
// late and the schedule starts again from it, without a burst; a changed delay holds from the
// next byte on.
TEST(SendSchedule, DueTimesAreAbsoluteAndALateByteRestartsThemWithoutABurst) {
    constexpr std::int64_t kPause = 1'000'000;
    std::mt19937 random(3);
    std::uniform_int_distribution<std::int64_t> jitter(0, 4'000);
    const auto write = [&] { return 10'000 + jitter(random); };
    ScheduledRun run;
    EXPECT_EQ(run.schedule.writeAt(), 0); // the first byte goes at once
    for (int i = 0; i < 50; ++i)
        run.byte(write(), kPause);
    EXPECT_EQ(run.late, 0);
    // 48 pauses after the second byte, the 50th is within the jitter of 48 ms: the write times
    // (at least 480 us in all) did not add up.
    EXPECT_NEAR(double(run.completions[49] - run.completions[1]), 48.0 * kPause, 5'000.0);
    EXPECT_GE(run.schedule.usualWriteNs(), 10'000);
    EXPECT_TRUE(run.noShortGap());

    run.byte(5'000'000, kPause); // held by the device
    EXPECT_EQ(run.late, 1);
    for (int i = 0; i < 5; ++i)
        run.byte(write(), kPause);
    EXPECT_EQ(run.late, 1);
    EXPECT_NEAR(double(run.gap(51)), double(kPause), 5'000.0); // not the 5 ms lost at once
    EXPECT_TRUE(run.noShortGap());

    run.byte(write(), kPause / 4); // the delay changed after this byte
    run.byte(write(), kPause / 4);
    run.byte(write(), 4 * kPause);
    run.byte(write(), 4 * kPause);
    EXPECT_NEAR(double(run.gap(57)), double(kPause / 4), 5'000.0);
    EXPECT_NEAR(double(run.gap(59)), double(4 * kPause), 5'000.0);
    EXPECT_EQ(run.late, 1);
    EXPECT_TRUE(run.noShortGap());

    // Whole chunks in between: the next byte goes at once and starts a schedule of its own.
    run.schedule.restart();
    EXPECT_EQ(run.schedule.writeAt(), 0);
    run.byte(write(), kPause);
    run.byte(write(), kPause);
    EXPECT_GE(run.gap(61), kPause);
}

// A pseudo-terminal's writes take about 1 us or 11 us by turns; at 0.25 ms the margin is 5 us.
// Measured against the usual write, not the quickest, the slow ones are not late, and the
// gaps keep to the pause instead of each gaining the difference.
TEST(SendSchedule, WritesOfTwoUsualLengthsNeitherRestartNorLengthenTheGaps) {
    constexpr std::int64_t kPause = 250'000;
    std::mt19937 random(5);
    std::bernoulli_distribution quick(0.3);
    ScheduledRun run;
    for (int i = 0; i < 400; ++i)
        run.byte(quick(random) ? 1'000 : 11'000, kPause);
    std::vector<std::int64_t> gaps;
    for (std::size_t i = 2; i < run.completions.size(); ++i)
        gaps.push_back(run.gap(i));
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    EXPECT_NEAR(double(gaps[gaps.size() / 2]), double(kPause), 1'000.0);
    // Now and then the last writes were mostly quick ones: a few restarts, each of 10 us.
    EXPECT_LT(run.late, 20);
    EXPECT_NEAR(double(run.completions.back() - run.completions[1]), 398.0 * kPause, 100'000.0);
}

// What the per-byte pace asks of the thread lasts as long as the scope: the reply monitor and
// the next send get the thread back as it was.
TEST(SendDelay, PreciseTimingHoldsTheThreadToOneCoreAndGivesItBack) {
    std::thread([] {
        cpu_set_t before;
        ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
        const int slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
        {
            const platform::PreciseTiming precise;
            cpu_set_t during;
            ASSERT_EQ(sched_getaffinity(0, sizeof during, &during), 0);
            EXPECT_EQ(CPU_COUNT(&during), 1);
            EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), 1);
        }
        cpu_set_t after;
        ASSERT_EQ(sched_getaffinity(0, sizeof after, &after), 0);
        EXPECT_TRUE(CPU_EQUAL(&before, &after));
        EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), slack);
    }).join();
}

TEST(SendProgress, FilesBeyondTheIntRangeAreScaled) {
    const transmit::ProgressScale small(1000);
    EXPECT_EQ(small.maximum(), 1000);
    EXPECT_EQ(small.position(250), 250);
    EXPECT_EQ(small.position(5000), 1000); // a file that grew during the send
    // An empty file gets an empty bar, not a busy indicator (a range of 0 to 0).
    EXPECT_EQ(transmit::ProgressScale(0).maximum(), 1);
    EXPECT_EQ(transmit::ProgressScale(0).position(0), 0);

    const qint64 huge = 6LL * 1024 * 1024 * 1024;
    const transmit::ProgressScale big(huge);
    EXPECT_GT(big.maximum(), 0);
    EXPECT_LE(big.maximum(), std::numeric_limits<int>::max());
    EXPECT_EQ(big.position(huge), big.maximum());
    EXPECT_EQ(big.position(huge / 2), big.maximum() / 2);
    EXPECT_EQ(big.position(0), 0);
}

TEST(SendProgress, TheOwnerSeesTheLatestCountOnceAndNothingOfAnEarlierSend) {
    using Count = transmit::ProgressMailbox::Count;
    transmit::ProgressMailbox mailbox;
    EXPECT_FALSE(mailbox.takeNew());
    mailbox.report(4096, 10000);
    mailbox.report(8192, 10000); // the window has not looked since the first
    EXPECT_EQ(mailbox.takeNew(), (Count{8192, 10000}));
    EXPECT_FALSE(mailbox.takeNew());
    mailbox.report(10000, 12000);
    EXPECT_EQ(mailbox.takeNew(), (Count{10000, 12000}));
    mailbox.report(4096, 4096);
    mailbox.clear(); // the next send starts before the window looked
    EXPECT_FALSE(mailbox.takeNew());
}

TEST(SendTexts, TitleAndTemporaryPath) {
    EXPECT_EQ(transmit::sendTitle(4096, 10000), "Kalvosan - Bytes send: 4096 (10000)");
    EXPECT_EQ(transmit::sendTitle(5000000000LL, 5000000000LL),
              "Kalvosan - Bytes send: 5000000000 (5000000000)");
    EXPECT_EQ(transmit::tempFilePath("/home/u"), "/home/u/temp.bin");
    EXPECT_EQ(transmit::tempFilePath("/"), "/temp.bin");
}

TEST(TempFile, ReplacesFilesAndLinksButNeverWritesThroughThem) {
    QTemporaryDir dir;
    const QString path = dir.filePath("temp.bin");
    ASSERT_TRUE(platform::writeFreshFile(path, "abc", 3));
    EXPECT_EQ(testsupport::readFile(path), "abc");
    ASSERT_TRUE(platform::writeFreshFile(path, "z", 1)); // an existing file is replaced
    EXPECT_EQ(testsupport::readFile(path), "z");
    ASSERT_TRUE(platform::writeFreshFile(path, nullptr, 0));
    EXPECT_EQ(QFileInfo(path).size(), 0);

    const QString victim = dir.filePath("victim");
    testsupport::writeFile(victim, "keep");
    QFile::remove(path);
    ASSERT_TRUE(QFile::link(victim, path));
    ASSERT_TRUE(platform::writeFreshFile(path, "new", 3));
    EXPECT_FALSE(QFileInfo(path).isSymLink());
    EXPECT_EQ(testsupport::readFile(path), "new");
    EXPECT_EQ(testsupport::readFile(victim), "keep");

    // A directory in the way is left alone, and the write fails.
    const QString folder = dir.filePath("folder");
    ASSERT_TRUE(QDir().mkdir(folder));
    EXPECT_FALSE(platform::writeFreshFile(folder, "x", 1));
    EXPECT_TRUE(QFileInfo(folder).isDir());
}

} // namespace
