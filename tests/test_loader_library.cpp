// What the loader shows: Start, Stop and Finish of the real libkalvosan.so on files that are
// complete, growing, too long, missing, directories and FIFOs.
#include "loader/hexline.h"
#include "tests/test_loader_fixture.h"
#include "tests/test_support.h"

#include <QProcess>
#include <QSet>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace loadertest {
namespace {

using testsupport::waitUntil;

TEST_F(LoaderLibrary, ExportsExactlyStartStopFinish) {
    QProcess nm;
    nm.start("nm", {"-D", "--defined-only", libraryPath()});
    ASSERT_TRUE(nm.waitForFinished(10000));
    QSet<QString> names;
    for (const QByteArray &row : nm.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = row.simplified().split(' ');
        if (fields.size() == 3)
            names.insert(QString::fromLatin1(fields[2]));
    }
    EXPECT_EQ(names, (QSet<QString>{"Start", "Stop", "Finish"}));
}

TEST_F(LoaderLibrary, SpecExampleFile) {
    QByteArray bytes;
    for (int i = 0; i < 16; ++i)
        bytes.append(char(i));
    bytes.append(QByteArray("Hello, World!\r\n\0", 16));
    bytes.append("abc");
    m_list.addItems({"left over", "from before"});

    EXPECT_EQ(start(&m_list, writeFile("example.bin", bytes)), 1);
    EXPECT_EQ(finish(), 1);
    expectListSettlesTo({
        "00000  00 01 02 03  04 05 06 07  08 09 0A 0B  0C 0D 0E 0F  ................",
        "00010  48 65 6C 6C  6F 2C 20 57  6F 72 6C 64  21 0D 0A 00  Hello, World!...",
        "00020  61 62 63" + QString(44, u' ') + "abc",
    });
    EXPECT_TRUE(workerEnded());
}

TEST_F(LoaderLibrary, FinishedFilesOfSmallSizes) {
    EXPECT_EQ(stop(), 1); // with no worker running: no effect on the next Start
    for (int size : {0, 16, 17, 40}) {
        SCOPED_TRACE(size);
        const QByteArray bytes = randomBytes(size, size);
        m_list.addItem("left over");
        start(&m_list, writeFile(QString("f%1.bin").arg(size), bytes));
        finish();
        const QStringList expected = expectedLines(bytes);
        ASSERT_EQ(expected.size(), (size + 15) / 16);
        expectListSettlesTo(expected);
        EXPECT_TRUE(workerEnded());
    }
    // 17 bytes: a full line and a one-byte line padded to 59 characters.
    start(&m_list, writeFile("f17.bin", QByteArray(17, 'A')));
    finish();
    expectListSettlesTo(
        {"00000  41 41 41 41  41 41 41 41  41 41 41 41  41 41 41 41  " + QString(16, u'A'),
         "00010  41" + QString(50, u' ') + "A"});
}

TEST_F(LoaderLibrary, GrowingFileShowsOnlyWholeLinesUntilFinish) {
    const QByteArray all = randomBytes(53, 7);
    const QString file = writeFile("growing.bin", {});
    start(&m_list, file);
    for (int size = 5; size <= all.size(); size += 5) {
        SCOPED_TRACE(size);
        appendFile(file, all.mid(size - 5, 5));
        // Long enough for the worker to look again after its waiting step.
        expectListSettlesTo(expectedLines(all.left(size), false));
    }
    appendFile(file, all.mid(50));
    settle(150);
    EXPECT_EQ(lines(), expectedLines(all.left(48), false));
    finish();
    expectListSettlesTo(expectedLines(all)); // the last 5 bytes as one short line
    EXPECT_EQ(lines().last().size(), 59 + 5);
    EXPECT_TRUE(workerEnded());
}

TEST_F(LoaderLibrary, ByteLimitEndsTheWorkerWithoutTail) {
    const QByteArray bytes = randomBytes(hexline::kLoaderByteLimit + 100, 3);
    const QString file = writeFile("big.bin", bytes);
    start(&m_list, file); // no Finish: the limit alone ends the worker
    ASSERT_TRUE(waitUntil([&] { return m_list.count() >= hexline::kLoaderLineLimit; }, 60000));
    EXPECT_TRUE(workerEnded());
    finish();
    appendFile(file, "more");
    settle(200);
    const QStringList got = lines();
    ASSERT_EQ(got.size(), 32736);
    EXPECT_EQ(got.last().left(5), "7FDF0");
    EXPECT_EQ(got, expectedLines(bytes.left(hexline::kLoaderByteLimit)));
}

TEST_F(LoaderLibrary, PathsThatGiveNoLines) {
    m_list.addItems({"a", "b"});
    EXPECT_EQ(start(&m_list, path("missing.bin")), 1);
    expectListSettlesTo({});
    EXPECT_TRUE(workerEnded());

    m_list.addItems({"a", "b"});
    start(&m_list, m_dir.path()); // a directory: reading fails, which ends the run
    expectListSettlesTo({});
    EXPECT_TRUE(workerEnded());

    m_list.addItems({"a", "b"});
    start(&m_list, QString());
    finish();
    expectListSettlesTo({});
    EXPECT_TRUE(workerEnded());
}

TEST_F(LoaderLibrary, FifoKeepsIncompleteLinesAndNeverHangs) {
    const QString fifo = path("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // O_RDWR on a FIFO never blocks and keeps a writer there for the whole test.
    const int writer = ::open(QFile::encodeName(fifo).constData(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    const QByteArray bytes = randomBytes(35, 9);
    auto send = [&](int from, int count) {
        ASSERT_EQ(::write(writer, bytes.constData() + from, count), count);
    };
    start(&m_list, fifo);
    send(0, 20);
    expectListSettlesTo(expectedLines(bytes.left(16), false));
    send(20, 12);
    expectListSettlesTo(expectedLines(bytes.left(32), false));
    send(32, 3);
    settle(150);
    EXPECT_EQ(lines(), expectedLines(bytes.left(32), false));
    finish();
    expectListSettlesTo(expectedLines(bytes)); // the 3 bytes kept from the last read
    EXPECT_TRUE(workerEnded());

    // Without a writer and without data, Stop ends the worker.
    ::close(writer);
    start(&m_list, fifo);
    settle(150);
    stop();
    EXPECT_TRUE(workerEnded());
    EXPECT_EQ(m_list.count(), 0);
}

TEST_F(LoaderLibrary, LabelsCountTheListWhenLinesAreAppended) {
    const QByteArray bytes = randomBytes(64, 11);
    const auto *data = reinterpret_cast<const std::uint8_t *>(bytes.constData());
    const QString file = writeFile("labels.bin", bytes.left(32));
    start(&m_list, file);
    ASSERT_TRUE(waitUntil([&] { return m_list.count() == 2; }));

    m_list.addItem("someone else's line");
    appendFile(file, bytes.mid(32, 16));
    ASSERT_TRUE(waitUntil([&] { return m_list.count() == 4; }));
    EXPECT_EQ(m_list.item(3)->text(), hexline::formatLine(3, data + 32, 16));

    // Past 0xFFFF lines the label grows to more than four digits.
    QStringList filler;
    for (int i = m_list.count(); i < 0x10002; ++i)
        filler.append(QString());
    m_list.addItems(filler);
    appendFile(file, bytes.mid(48, 16));
    finish();
    ASSERT_TRUE(waitUntil([&] { return m_list.count() == 0x10003; }));
    EXPECT_EQ(m_list.item(0x10002)->text(), hexline::formatLine(0x10002, data + 48, 16));
    EXPECT_TRUE(m_list.item(0x10002)->text().startsWith("100020  "));
    EXPECT_TRUE(workerEnded());
}

} // namespace
} // namespace loadertest
