// The guarantees stated in loader/loader_library.cpp, one test (or more) each.
#include "loader/hexline.h"
#include "tests/test_loader_fixture.h"
#include "tests/test_support.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <vector>

namespace loadertest {
namespace {

using testsupport::waitUntil;

// A worker follows `file`; more bytes are appended and the test sleeps without running the
// event loop, so that the worker's block for them is queued but not yet carried out.
void queueOneMoreBlock(const QString &file) {
    appendFile(file, randomBytes(48, 5));
    sleepMs(250);
}

// 1. After Start returns, only the new worker's lines reach the list: the earlier worker's
// block that was already queued never shows, not even before the new worker empties the list.
TEST_F(LoaderLibrary, StartSupersedesTheEarlierWorker) {
    const QString first = writeFile("first.bin", randomBytes(64, 1));
    start(&m_list, first);
    ASSERT_TRUE(waitUntil([&] { return m_list.count() == 4; }));
    queueOneMoreBlock(first);

    const QByteArray second = randomBytes(40, 2);
    start(&m_list, writeFile("second.bin", second));
    QStringList inserted;
    QObject::connect(m_list.model(), &QAbstractItemModel::rowsInserted,
                     [&](const QModelIndex &, int from, int to) {
                         for (int row = from; row <= to; ++row)
                             inserted.append(m_list.item(row)->text());
                     });
    finish();
    expectListSettlesTo(expectedLines(second));
    settle(300);
    EXPECT_EQ(lines(), expectedLines(second));
    EXPECT_EQ(inserted, expectedLines(second));
}

// 2. After Stop returns, the stopped worker adds nothing more: neither a block already queued
// nor its tail line.
TEST_F(LoaderLibrary, NothingArrivesAfterStop) {
    const QString file = writeFile("stop.bin", randomBytes(37, 3)); // 2 lines + 5 bytes
    start(&m_list, file);
    ASSERT_TRUE(waitUntil([&] { return m_list.count() == 2; }));
    queueOneMoreBlock(file);
    const QStringList atStop = lines();
    stop();
    settle(300);
    EXPECT_EQ(lines(), atStop);
    EXPECT_TRUE(workerEnded());

    // In the middle of a large file.
    start(&m_list, writeFile("large.bin", randomBytes(hexline::kLoaderByteLimit, 4)));
    finish();
    ASSERT_TRUE(waitUntil([&] { return m_list.count() > 0; }));
    stop();
    const int count = m_list.count();
    settle(300);
    EXPECT_EQ(m_list.count(), count);
    EXPECT_TRUE(workerEnded());
}

// 3. The worker never waits for the UI thread: it runs to its end while this thread runs no
// event loop at all, and joining it here cannot deadlock.
// 6. One queued call per block of up to 512 lines.
TEST_F(LoaderLibrary, WorkerRunsWithoutTheUiThreadAndDeliversBlocks) {
    const QByteArray bytes = randomBytes(hexline::kLoaderByteLimit, 6);
    std::vector<int> insertions;
    QObject::connect(
        m_list.model(), &QAbstractItemModel::rowsInserted,
        [&](const QModelIndex &, int first, int last) { insertions.push_back(last - first + 1); });
    start(&m_list, writeFile("blocks.bin", bytes));
    finish();
    QElapsedTimer timer;
    timer.start();
    while (threadCount() > m_baseThreads && timer.elapsed() < 30000)
        sleepMs(2);
    EXPECT_EQ(threadCount(), m_baseThreads);
    EXPECT_EQ(m_list.count(), 0); // nothing was carried out yet

    ASSERT_TRUE(waitUntil([&] { return m_list.count() == hexline::kLoaderLineLimit; }, 30000));
    EXPECT_EQ(insertions.size(), 64u); // 63 blocks of 512 lines and one of 480
    EXPECT_EQ(*std::max_element(insertions.begin(), insertions.end()), 512);
    EXPECT_EQ(lines(), expectedLines(bytes));
}

// 4. Unloading while a worker runs ends it first; no code of the library runs afterwards.
TEST_F(LoaderLibrary, UnloadWhileAWorkerRuns) {
    const QString file = writeFile("unload.bin", randomBytes(32, 8));
    start(&m_list, file);
    ASSERT_TRUE(waitUntil([&] { return m_list.count() == 2; }));
    queueOneMoreBlock(file);

    ASSERT_TRUE(m_lib.unload());
    EXPECT_FALSE(libraryMapped());
    EXPECT_EQ(threadCount(), m_baseThreads);

    // Keep the process busy with new events for a while: a block left behind would crash.
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        appendFile(file, randomBytes(16, ticks));
    });
    timer.start(5);
    settle(300);
    timer.stop();
    EXPECT_GT(ticks, 10);
    EXPECT_EQ(m_list.count(), 2);

    // And it loads again as before.
    ASSERT_TRUE(m_lib.load());
    start = reinterpret_cast<LoaderStartFn>(m_lib.resolve("Start"));
    finish = reinterpret_cast<LoaderFinishFn>(m_lib.resolve("Finish"));
    stop = reinterpret_cast<LoaderStopFn>(m_lib.resolve("Stop"));
    const QByteArray bytes = randomBytes(20, 1);
    start(&m_list, writeFile("again.bin", bytes));
    finish();
    expectListSettlesTo(expectedLines(bytes));
}

// 5. The waiting step is interruptible: a waiting worker ends at once, not after 100 ms.
TEST_F(LoaderLibrary, WaitingWorkerEndsAtOnce) {
    const QString file = writeFile("empty.bin", {});
    std::vector<qint64> joins;
    std::vector<qint64> stops;
    for (int i = 0; i < 9; ++i) {
        start(&m_list, file);
        sleepMs(20); // the worker is in its waiting step now
        QElapsedTimer timer;
        timer.start();
        start(&m_list, file); // joins the waiting worker
        joins.push_back(timer.elapsed());
        sleepMs(20);
        timer.restart();
        i % 2 ? stop() : finish();
        while (threadCount() > m_baseThreads && timer.elapsed() < 5000)
            sleepMs(1);
        stops.push_back(timer.elapsed());
    }
    std::sort(joins.begin(), joins.end());
    std::sort(stops.begin(), stops.end());
    // Medians well below the waiting step of 100 ms (typically under 1 ms).
    EXPECT_LT(joins[4], 50);
    EXPECT_LT(stops[4], 50);
}

// The host may destroy its list while a worker runs.
TEST_F(LoaderLibrary, ListDestroyedWhileAWorkerRuns) {
    auto list = std::make_unique<QListWidget>();
    const QString file = writeFile("gone.bin", randomBytes(32, 12));
    start(list.get(), file);
    ASSERT_TRUE(waitUntil([&] { return list->count() == 2; }));
    queueOneMoreBlock(file);
    list.reset();
    settle(300);
    appendFile(file, randomBytes(40, 13));
    finish();
    EXPECT_TRUE(workerEnded());
    settle(100);
}

} // namespace
} // namespace loadertest
