// The window on ports across the network: the name typed into the port combo, Start, Stop,
// Send, Abort and Exit clicked, a real ser2net with a pty as the device.
#include "app/terminal_dialog.h"
#include "hexedit/hex_list_box.h"
#include "loader/arrival_times.h"
#include "loader/hexline.h"
#include "res/control_ids.h"
#include "res/dialog_templates.h"
#include "tests/test_cli_support.h"
#include "tests/test_network_support.h"
#include "tests/test_support.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <termios.h>

namespace {

using namespace testsupport;

class NetworkWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        dialog = startedDialog(true, dir.path());
        ASSERT_TRUE(dialog);
        dialog->itemAs<QLineEdit>(ctl::DropDirectory)->setText(dir.path());
    }

    void typePort(const QString &name) {
        auto *combo = dialog->itemAs<QComboBox>(ctl::Port);
        combo->clearEditText();
        combo->setFocus();
        QTest::keyClicks(combo, name);
        ASSERT_EQ(combo->currentText(), name);
    }
    void choose(int id, const QString &item) {
        auto *combo = dialog->itemAs<QComboBox>(id);
        combo->setCurrentIndex(combo->findText(item));
        ASSERT_EQ(combo->currentText(), item);
    }
    void click(int id) { QTest::mouseClick(dialog->item(id), Qt::LeftButton); }
    bool idle() const {
        return dialog->item(ctl::Start)->isEnabled() && !dialog->item(ctl::Stop)->isEnabled() &&
               !dialog->item(ctl::Abort)->isEnabled() && !dialog->transferRunning();
    }
    // Open: the transfer is past its connection.
    bool running(int stopButton) const {
        return dialog->item(stopButton)->isEnabled() && !dialog->openingPort();
    }
    void startServer(Ser2net &server) {
        ASSERT_TRUE(server.start()) << server.failure().toStdString();
    }
    QString capturePath() const { return dir.filePath("data000000.bin"); }
    QString sendFile(const QByteArray &bytes) {
        writeFile(dir.filePath("send.bin"), bytes);
        return dir.filePath("send.bin");
    }
    void send(const QString &file) {
        dialog->itemAs<QLineEdit>(ctl::SendFile)->setText(file);
        click(ctl::Send);
    }

    QTemporaryDir dir;
    MessageRecorder messages;
    std::unique_ptr<TerminalDialog> dialog;
};

void recordArrivalTimes(TerminalDialog &dialog) {
    QMenu menu;
    dialog.fillWindowMenu(menu);
    for (QAction *action : menu.actions())
        if (action->text() == "Record &arrival times" && !action->isChecked())
            action->trigger();
}

TEST_F(NetworkWindow, CapturesEveryByteValueAndGoesOnInTheSameFileAfterTheServerCameBack) {
    Ser2net server;
    startServer(server);
    recordArrivalTimes(*dialog);
    typePort(server.portName());
    click(ctl::Start);
    ASSERT_TRUE(waitUntil([&] { return running(ctl::Stop); }, 10000))
        << messages.lastText().toStdString();
    ASSERT_TRUE(syncCapture(server.device(), capturePath()));
    const QByteArray payload = everyByteValue(1 << 20);
    server.device().write(payload);
    ASSERT_TRUE(waitUntil([&] { return afterSync(readFile(capturePath())) == payload; }, 30000));

    server.stop();
    const QString waiting = "Kalvosan - Waiting for " + server.portName() + "...";
    ASSERT_TRUE(waitUntil([&] { return dialog->windowTitle() == waiting; }))
        << dialog->windowTitle().toStdString();
    startServer(server);
    ASSERT_TRUE(waitUntil(
        [&] {
            if (!readFile(capturePath()).endsWith("|after"))
                server.device().write("|after");
            return waitUntil([&] { return readFile(capturePath()).endsWith("|after"); }, 600);
        },
        20000));
    click(ctl::Stop);
    EXPECT_TRUE(idle());
    EXPECT_TRUE(afterSync(readFile(capturePath())).startsWith(payload + "|after"));
    const QList<arrival::Burst> bursts = arrival::readSidecar(arrival::sidecarPath(capturePath()));
    EXPECT_EQ(
        std::count_if(bursts.begin(), bursts.end(), [](const auto &b) { return b.reconnected; }),
        1);
    EXPECT_TRUE(messages.messages().empty()) << messages.lastText().toStdString();
}

TEST_F(NetworkWindow, SendsByteByByteWholeAndFromTheEditorWithTheLineSettingsArriving) {
    Ser2net server;
    startServer(server);
    typePort(server.portName());
    dialog->itemAs<QComboBox>(ctl::Baud)->setEditText("250000");
    choose(ctl::StopBits, "2");
    choose(ctl::Parity, "Odd");
    choose(ctl::Flow, "Hardware");
    dialog->itemAs<QLineEdit>(ctl::Delay)->setText("1");
    const QByteArray bytes = everyByteValue(300);
    send(sendFile(bytes));
    DeviceLine line;
    EXPECT_EQ(readWithLine(server.device(), bytes.size(), line), bytes);
    EXPECT_EQ(line.baud, 250000u);
    EXPECT_EQ(line.cflags, unsigned(CSTOPB | PARODD | CRTSCTS));
    ASSERT_TRUE(waitUntil([&] { return idle(); }, 20000));
    ASSERT_TRUE(dialog->lastSendTiming());
    EXPECT_EQ(dialog->lastSendTiming()->bytes, 300);
    EXPECT_TRUE(dialog->lastSendTiming()->measuredAtThisEnd);

    dialog->itemAs<QLineEdit>(ctl::Delay)->setText("-1");
    const QByteArray whole = everyByteValue(256 * 1024);
    {
        DeviceReader reader(server.device());
        send(sendFile(whole));
        EXPECT_TRUE(reader.take(whole.size(), 20000) == whole);
        ASSERT_TRUE(waitUntil([&] { return idle(); }, 20000));
    }

    const QByteArray edited("\x00\xff\r\n\x7f", 5);
    dialog->hexList()->addItem(hexline::formatLine(
        0, reinterpret_cast<const std::uint8_t *>(edited.constData()), int(edited.size())));
    click(ctl::EditorSend);
    EXPECT_EQ(server.device().read(int(edited.size()), 10000), edited);
    ASSERT_TRUE(waitUntil([&] { return dialog->monitoring(); }, 10000));
    server.device().write(QByteArray("\x01\xff\x0d", 3));
    const auto *reply = dialog->itemAs<QPlainTextEdit>(ctl::InputBuffer);
    EXPECT_TRUE(waitUntil([&] { return reply->toPlainText() == "01 FF 0D "; }))
        << reply->toPlainText().toStdString();
    click(ctl::Abort);
    EXPECT_TRUE(waitUntil([&] { return idle(); }));
    EXPECT_TRUE(messages.messages().empty()) << messages.lastText().toStdString();
}

TEST_F(NetworkWindow, AnOpenThatFailsOrIsCancelledLeavesTheWindowIdleAndAnsweringMeanwhile) {
    const SilentAddress silent;
    const QString unanswered = QStringLiteral("rfc2217://127.0.0.1:%1").arg(silent.port());
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);

    typePort(unanswered);
    click(ctl::Start);
    EXPECT_EQ(dialog->windowTitle(), "Kalvosan - Connecting to " + unanswered + "...");
    EXPECT_TRUE(dialog->item(ctl::Stop)->isEnabled());
    EXPECT_TRUE(dialog->item(ctl::Exit)->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return !messages.messages().empty(); }, 15000));
    EXPECT_EQ(messages.lastText(), "Could not open port " + unanswered);
    EXPECT_GT(ticks, 50) << "the window's event loop ran while it connected";
    EXPECT_TRUE(idle());
    EXPECT_FALSE(QFileInfo::exists(capturePath()));

    const QString refused = QStringLiteral("tcp://127.0.0.1:%1").arg(freeTcpPort());
    typePort(refused);
    messages.clear();
    click(ctl::Start);
    ASSERT_TRUE(waitUntil([&] { return !messages.messages().empty(); }, 15000));
    EXPECT_EQ(messages.lastText(), "Could not open port " + refused);
    EXPECT_TRUE(idle());

    // Stop and Abort cancel the open at once.
    typePort(unanswered);
    for (int button : {ctl::Stop, ctl::Abort}) {
        messages.clear();
        if (button == ctl::Stop)
            click(ctl::Start);
        else
            send(sendFile("never sent"));
        QTest::qWait(200);
        ASSERT_TRUE(dialog->item(button)->isEnabled());
        click(button);
        EXPECT_EQ(messages.lastText(), "Could not open port " + unanswered);
        EXPECT_TRUE(idle());
        EXPECT_EQ(dialog->windowTitle(), QLatin1String(res::kVersionTitle));
    }
    EXPECT_FALSE(QFileInfo::exists(capturePath()));

    // And so does Exit, which closes the window.
    click(ctl::Start);
    ASSERT_TRUE(dialog->openingPort());
    click(ctl::Exit);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_FALSE(dialog->transferRunning());
}

} // namespace
