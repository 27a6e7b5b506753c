// A fixture that loads the real libkalvosan.so with QLibrary, as the program does, and a few
// helpers for files, the list and the worker thread.
#pragma once

#include "loader/loader_api.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QLibrary>
#include <QListWidget>
#include <QStringList>
#include <QTemporaryDir>

#include <ostream>

// Readable QStrings in GoogleTest's failure messages.
inline void PrintTo(const QString &s, std::ostream *os) {
    *os << '"' << s.toStdString() << '"';
}

namespace loadertest {

QString libraryPath();
// The threads of this process, from /proc/self/task.
int threadCount();
bool libraryMapped();
// Runs the event loop for ms milliseconds.
void settle(int ms);
// Sleeps without running the event loop, so that queued calls pile up.
void sleepMs(int ms);
QByteArray randomBytes(int size, quint32 seed = 1);
void appendFile(const QString &path, const QByteArray &bytes);
// The hex lines for bytes shown from line 0, with the short tail line.
QStringList expectedLines(const QByteArray &bytes, bool withTail = true);
QStringList listLines(const QListWidget &list);

class LoaderLibrary : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString writeFile(const QString &name, const QByteArray &bytes) const;
    QStringList lines() const { return listLines(m_list); }
    // True once the loader's worker thread has ended (no more threads than before the test).
    bool workerEnded(int timeoutMs = 5000) const;
    // Waits until the list shows exactly `expected`, then a little longer to see it stays.
    void expectListSettlesTo(const QStringList &expected, int timeoutMs = 10000);

    QLibrary m_lib;
    QTemporaryDir m_dir;
    QListWidget m_list;
    LoaderStartFn start = nullptr;
    LoaderStopFn stop = nullptr;
    LoaderFinishFn finish = nullptr;
    int m_baseThreads = 0;
};

} // namespace loadertest
