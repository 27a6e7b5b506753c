// The main window with its port set to a pseudo-terminal and its drop directory to a
// temporary folder, driven through the real "Start" and "Stop" buttons.
#pragma once

#include "app/terminal_dialog.h"
#include "tests/test_support.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

class CaptureTest : public ::testing::Test {
protected:
    // Bytes that tell the test the worker has started; the payloads never begin with one.
    static constexpr char kSync = char(0xA5);

    void SetUp() override;
    void TearDown() override;

    void setPort(const QString &name);
    void setFileName(const QString &name);
    void setDropDirectory(const QString &dir);
    // Clicks "Start" and remembers the capture path the controls name.
    void clickStart();
    void clickStop();
    QString controlsPath() const;
    // The path of the last capture started.
    const QString &path() const { return m_capturePath; }
    qint64 fileSize() const;

    // The worker drops what waits in the port when it starts, so a test sends sync bytes until
    // one reaches the file before it sends what it means to find there.
    void syncWithWorker();
    // Sends sync bytes until the worker, past its start, tries to write one and a message
    // comes (a write that fails).
    void syncUntilAMessage();
    // The file's bytes after the header and the sync bytes.
    QByteArray payloadInFile(qsizetype headerSize = 0) const;
    // Sends the bytes and waits until the file has grown by that much.
    void sendAndWait(const QByteArray &bytes);
    bool capturing() const;

    std::unique_ptr<TerminalDialog> dialog;
    testsupport::Pty pty;
    QTemporaryDir dropDir;
    testsupport::MessageRecorder messages;

private:
    QString m_capturePath;
};
