// What the core and command-line tests share: payloads and the sync with a starting capture,
// which drops the bytes waiting at its start by design.
#pragma once

#include "tests/test_pty.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace testsupport {

inline constexpr char kSync = '\x5A';

// Random bytes that never begin with a sync byte.
inline QByteArray randomPayload(qsizetype size, quint32 seed = 20240613) {
    QByteArray bytes(size, 0);
    QRandomGenerator rng(seed);
    for (char &b : bytes)
        b = char(rng.bounded(256));
    if (!bytes.isEmpty() && bytes.at(0) == kSync)
        bytes[0] = 'R';
    return bytes;
}

// Sends one sync byte at a time until the capture file holds one. Each wait is long enough
// that a byte the capture took is seen before the next goes out, so one lands, barely ever
// more.
inline bool syncCapture(Pty &pty, const QString &path, qint64 headerSize = 0) {
    for (int attempt = 0; attempt < 15; ++attempt) {
        pty.write(QByteArray(1, kSync));
        if (waitUntil([&] { return QFileInfo(path).size() > headerSize; }, 2000))
            return true;
    }
    return false;
}

// The bytes after the leading sync bytes.
inline QByteArray afterSync(const QByteArray &bytes) {
    qsizetype syncBytes = 0;
    while (syncBytes < bytes.size() && bytes.at(syncBytes) == kSync)
        ++syncBytes;
    return syncBytes > 0 ? bytes.mid(syncBytes) : QByteArray("no sync byte");
}

// The real kalvosan-cli as a process, with a settings folder of its own, a folder for its
// files and a pty as the device.
class CliProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_config.isValid() && m_dir.isValid());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // The window's settings file of this test alone; the lock folder is the test program's.
        environment.insert("XDG_CONFIG_HOME", m_config.path());
        m_process.setProcessEnvironment(environment);
    }
    void TearDown() override {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    void start(const QStringList &arguments) {
        m_process.start(QCoreApplication::applicationDirPath() + "/kalvosan-cli", arguments);
        ASSERT_TRUE(m_process.waitForStarted());
    }
    // Waits for the end (a bound against hangs only) and gives the exit code. The process
    // may have ended already while the test's pty helper ran the event loop.
    int finish(int timeoutMs = 30000) {
        if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(timeoutMs))
            return -1;
        m_out = m_process.readAllStandardOutput();
        m_err = m_process.readAllStandardError();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -2;
    }
    int run(const QStringList &arguments) {
        start(arguments);
        return finish();
    }
    QString path(const QString &name) const { return m_dir.filePath(name); }

    QTemporaryDir m_config;
    QTemporaryDir m_dir;
    Pty m_pty;
    QProcess m_process;
    QByteArray m_out;
    QByteArray m_err;
};

} // namespace testsupport
