// The terminal window as a user works it: opened from the main window's background menu, the
// line typed and sent with Enter, the answer in the view, the port held against the main
// window's Start, a flood that the view bounds and the log keeps whole, the history.
#include "app/terminal_dialog.h"
#include "app/terminal_window.h"
#include "res/control_ids.h"
#include "tests/test_cli_support.h"
#include "tests/test_support.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using namespace testsupport;

template <class T> T *control(QWidget *window, const QString &name) {
    for (T *widget : window->findChildren<T *>())
        if (widget->accessibleName() == name)
            return widget;
    ADD_FAILURE() << "no control " << name.toStdString();
    return nullptr;
}

class TermWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        dialog = startedDialog(true, dir.path());
        ASSERT_TRUE(dialog);
        dialog->itemAs<QLineEdit>(ctl::DropDirectory)->setText(dir.path());
        dialog->itemAs<QComboBox>(ctl::Port)->setEditText(device.slavePath());
        dialog->itemAs<QComboBox>(ctl::Baud)->setEditText("115200");
        QMenu menu;
        dialog->fillWindowMenu(menu);
        const QList<QAction *> actions = menu.actions();
        const auto at = [&](const QString &text) {
            return std::find_if(actions.begin(), actions.end(),
                                [&](QAction *a) { return a->text() == text; }) -
                   actions.begin();
        };
        ASSERT_LT(at("Terminal..."), actions.size());
        EXPECT_EQ(at("Terminal..."), at("Last send &timing...") + 1);
        EXPECT_EQ(at("Record &arrival times"), at("Terminal...") + 1);
        actions[at("Terminal...")]->trigger();
        window = dialog->terminalWindow();
        ASSERT_TRUE(window && window->isVisible());
    }
    QPushButton *button(const QString &name) { return control<QPushButton>(window, name); }
    void typeLine(const QString &text) {
        window->input()->setFocus();
        QTest::keyClicks(window->input(), text);
        QTest::keyClick(window->input(), Qt::Key_Return);
    }
    bool viewShows(const QString &text) {
        return waitUntil([&] { return window->view()->toPlainText().contains(text); });
    }
    void connectAndLog(const QString &log) {
        QTest::mouseClick(button("Connect"), Qt::LeftButton);
        ASSERT_TRUE(window->connected());
        QTest::mouseClick(button("Log"), Qt::LeftButton);
        ASSERT_TRUE(viewShows("[kalvosan] Logging to " + log));
    }

    QTemporaryDir dir;
    Pty device;
    MessageRecorder messages;
    std::unique_ptr<TerminalDialog> dialog;
    TerminalWindow *window = nullptr;
};

TEST_F(TermWindow, TypesToTheDeviceShowsItsAnswerAndHoldsThePort) {
    EXPECT_EQ(window->windowTitle(), "Kalvosan Terminal - " + device.slavePath());
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (w->isVisible() && w->focusPolicy() != Qt::NoFocus && w->parentWidget() == window) {
            EXPECT_FALSE(w->accessibleName().isEmpty()) << w->metaObject()->className();
        }
    }
    QTest::mouseClick(button("Connect"), Qt::LeftButton);
    ASSERT_TRUE(window->connected()) << messages.lastText().toStdString();
    EXPECT_TRUE(viewShows("[kalvosan] Connected to " + device.slavePath()));
    control<QComboBox>(window, "Line ending")->setCurrentText("CR LF");
    typeLine("AT\\x01");
    EXPECT_EQ(device.read(5), QByteArray("AT\x01\r\n"));
    control<QAbstractButton>(window, "Hex")->click();
    typeLine("0x41 4243");
    EXPECT_EQ(device.read(5), "ABC\r\n");
    device.write("OK\r\nready\r\n");
    EXPECT_TRUE(viewShows("OK\nready\n"));
    // The history recalls the lines sent, the latest first.
    QTest::keyClick(window->input(), Qt::Key_Up);
    EXPECT_EQ(window->input()->text(), "0x41 4243");
    QTest::keyClick(window->input(), Qt::Key_Up);
    EXPECT_EQ(window->input()->text(), "AT\\x01");

    // The main window's Start on the same port is refused: the terminal holds it.
    QTest::mouseClick(dialog->item(ctl::Start), Qt::LeftButton);
    EXPECT_EQ(messages.lastText(), "Could not open port " + device.slavePath());
    EXPECT_TRUE(dialog->item(ctl::Start)->isEnabled());
    EXPECT_TRUE(window->connected());

    // Closing the main window closes the terminal window first.
    dialog->OnCancel();
    EXPECT_EQ(dialog->terminalWindow(), nullptr);
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(TermWindow, AFloodKeepsTheViewBoundedAndTheLogWhole) {
    const QString log = dir.filePath("data000000.bin");
    ASSERT_NO_FATAL_FAILURE(connectAndLog(log));
    QByteArray flood;
    for (int line = 0; line < 12000; ++line)
        flood += "line " + QByteArray::number(line) + "\r\n";
    device.write(flood);
    ASSERT_TRUE(viewShows("line 11999\n"));
    EXPECT_LE(window->view()->blockCount(), TerminalWindow::kViewLines);
    EXPECT_FALSE(window->view()->toPlainText().contains("line 100\n")) << "the oldest went";
    QTest::mouseClick(button("Log"), Qt::LeftButton);
    EXPECT_TRUE(viewShows("closed: " + QString::number(flood.size()) + " bytes"));
    EXPECT_EQ(readFile(log), flood);
    EXPECT_EQ(dialog->itemAs<QLineEdit>(ctl::CaptureFile)->text(), "data000001.bin");
    QTest::mouseClick(button("Disconnect"), Qt::LeftButton);
    EXPECT_FALSE(window->connected());
}

// The main window destroyed with the terminal's log on: the log is closed whole, and the
// numbering it tells the main window about is still there to take it.
TEST_F(TermWindow, TheLogClosesWholeWhenTheMainWindowGoes) {
    const QString log = dir.filePath("data000000.bin");
    ASSERT_NO_FATAL_FAILURE(connectAndLog(log));
    device.write("last words");
    ASSERT_TRUE(viewShows("last words"));
    dialog.reset();
    EXPECT_EQ(readFile(log), "last words");
}

// The device goes and comes back behind the same link, as a by-id link does: DTR and RTS show
// the levels of the port opened anew, not those last asked for.
TEST_F(TermWindow, TheLineButtonsFollowTheDeviceBack) {
    const QString link = dir.filePath("usb-device-if00");
    ASSERT_TRUE(QFile::link(device.slavePath(), link));
    dialog->itemAs<QComboBox>(ctl::Port)->setEditText(link);
    dialog->OnTerminal();
    window = dialog->terminalWindow();
    QTest::mouseClick(button("Connect"), Qt::LeftButton);
    ASSERT_TRUE(window->connected()) << messages.lastText().toStdString();
    QTest::mouseClick(button("DTR"), Qt::LeftButton);
    QTest::mouseClick(button("RTS"), Qt::LeftButton);
    ASSERT_FALSE(button("DTR")->isChecked() || button("RTS")->isChecked());
    device.closeMaster();
    ASSERT_TRUE(viewShows("Waiting for " + link));
    Pty replugged;
    ASSERT_TRUE(QFile::remove(link) && QFile::link(replugged.slavePath(), link));
    ASSERT_TRUE(viewShows(link + " is back"));
    EXPECT_TRUE(button("DTR")->isChecked());
    EXPECT_TRUE(button("RTS")->isChecked());
}

} // namespace
