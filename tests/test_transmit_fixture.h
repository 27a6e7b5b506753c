// A real main window whose port is a pseudo-terminal: the test plays the device on the master
// side and drives the window through its buttons.
#pragma once

#include "app/terminal_dialog.h"
#include "res/control_ids.h"
#include "tests/test_support.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace transmittest {

// Bytes a pty takes from its slave side before a write would block, written one at a time as
// the byte-by-byte send does.
inline int ptyCapacity() {
    testsupport::Pty probe;
    const int fd =
        ::open(probe.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    int taken = 0;
    const char byte = 'x';
    while (fd >= 0 && ::write(fd, &byte, 1) == 1)
        ++taken;
    if (fd >= 0)
        ::close(fd);
    return taken;
}

inline QByteArray patternBytes(int size, unsigned seed) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = char(seed >> 16);
    }
    return bytes;
}

class TransmitTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        dialog = testsupport::startedDialog(true, dir.path());
        ASSERT_TRUE(dialog);
        dialog->itemAs<QComboBox>(ctl::Port)->setEditText(pty.slavePath());
        setBaud("115200");
    }

    void setBaud(const QString &text) { dialog->itemAs<QComboBox>(ctl::Baud)->setEditText(text); }
    void setDelay(const QString &text) { dialog->itemAs<QLineEdit>(ctl::Delay)->setText(text); }
    void setMode2(bool on) { dialog->itemAs<QCheckBox>(ctl::Mode)->setChecked(on); }
    void click(int id) { dialog->itemAs<QAbstractButton>(id)->click(); }
    QString path(const QString &name) const { return dir.filePath(name); }

    // Sends the file through "Send".
    void send(const QString &file) {
        dialog->itemAs<QLineEdit>(ctl::SendFile)->setText(file);
        click(ctl::Send);
    }
    QString sendFile(const QByteArray &bytes, const QString &name = "send.bin") {
        testsupport::writeFile(path(name), bytes);
        return path(name);
    }

    bool sending() const { return dialog->item(ctl::Abort)->isEnabled(); }
    bool idle() const {
        return !sending() && dialog->item(ctl::Send)->isEnabled() &&
               dialog->item(ctl::Open)->isEnabled() && dialog->item(ctl::Start)->isEnabled() &&
               !dialog->itemAs<QProgressBar>(ctl::Progress)->isVisible();
    }
    bool waitIdle(int timeoutMs = 30000) {
        return testsupport::waitUntil([this] { return idle(); }, timeoutMs);
    }
    QString inputBuffer() const {
        return dialog->itemAs<QPlainTextEdit>(ctl::InputBuffer)->toPlainText();
    }

    QTemporaryDir dir;
    testsupport::Pty pty;
    testsupport::MessageRecorder messages;
    std::unique_ptr<TerminalDialog> dialog;
};

} // namespace transmittest
