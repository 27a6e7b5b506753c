#include "tests/test_loader_fixture.h"

#include "loader/hexline.h"
#include "tests/test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <chrono>
#include <thread>

namespace loadertest {

QString libraryPath() {
    return QCoreApplication::applicationDirPath() + "/" + kLoaderLibraryName;
}

int threadCount() {
    return static_cast<int>(
        QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

bool libraryMapped() {
    return testsupport::readFile("/proc/self/maps").contains(kLoaderLibraryName);
}

void settle(int ms) {
    testsupport::waitUntil([] { return false; }, ms);
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

QByteArray randomBytes(int size, quint32 seed) {
    QRandomGenerator gen(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (char &c : out)
        c = static_cast<char>(gen.bounded(256));
    return out;
}

void appendFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Append));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QStringList expectedLines(const QByteArray &bytes, bool withTail) {
    const auto *data = reinterpret_cast<const std::uint8_t *>(bytes.constData());
    QStringList out;
    int at = 0;
    for (; at + 16 <= bytes.size(); at += 16)
        out.append(hexline::formatLine(at / 16, data + at, 16));
    if (withTail && at < bytes.size())
        out.append(hexline::formatLine(at / 16, data + at, int(bytes.size()) - at));
    return out;
}

QStringList listLines(const QListWidget &list) {
    QStringList out;
    out.reserve(list.count());
    for (int i = 0; i < list.count(); ++i)
        out.append(list.item(i)->text());
    return out;
}

void LoaderLibrary::SetUp() {
    ASSERT_TRUE(m_dir.isValid());
    m_lib.setFileName(libraryPath());
    ASSERT_TRUE(m_lib.load()) << m_lib.errorString().toStdString();
    start = reinterpret_cast<LoaderStartFn>(m_lib.resolve("Start"));
    stop = reinterpret_cast<LoaderStopFn>(m_lib.resolve("Stop"));
    finish = reinterpret_cast<LoaderFinishFn>(m_lib.resolve("Finish"));
    ASSERT_TRUE(start && stop && finish);
    m_baseThreads = threadCount();
}

void LoaderLibrary::TearDown() {
    if (m_lib.isLoaded()) {
        stop();
        EXPECT_TRUE(m_lib.unload());
    }
    EXPECT_FALSE(libraryMapped());
}

QString LoaderLibrary::writeFile(const QString &name, const QByteArray &bytes) const {
    const QString p = path(name);
    testsupport::writeFile(p, bytes);
    return p;
}

bool LoaderLibrary::workerEnded(int timeoutMs) const {
    return testsupport::waitUntil([this] { return threadCount() <= m_baseThreads; }, timeoutMs);
}

void LoaderLibrary::expectListSettlesTo(const QStringList &expected, int timeoutMs) {
    testsupport::waitUntil([&] { return lines() == expected; }, timeoutMs);
    settle(150);
    const QStringList got = lines();
    ASSERT_EQ(got.size(), expected.size());
    for (int i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], expected[i]) << "line " << i;
}

} // namespace loadertest
