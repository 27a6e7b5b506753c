// The window's protocol transfers through its widgets: the background menu's "Transfer
// protocol", kept between runs, then Send and Start with YMODEM against lrzsz's rb and sb at
// the far end of a pty, and Stop cancelling the other side.
#include "app/terminal_dialog.h"
#include "res/control_ids.h"
#include "tests/test_cli_support.h"
#include "tests/test_lrzsz_peer.h"
#include "tests/test_support.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using namespace testsupport;

class WindowProtocols : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid() && peerDir.isValid());
        dialog = startedDialog(true, dir.path());
        ASSERT_TRUE(dialog);
        dialog->itemAs<QComboBox>(ctl::Port)->setEditText(pty.slavePath());
        dialog->itemAs<QComboBox>(ctl::Baud)->setEditText("115200");
        dialog->itemAs<QLineEdit>(ctl::DropDirectory)->setText(dir.path());
    }
    // The submenu's actions, by their texts.
    QList<QAction *> protocolActions(QMenu &menu) {
        dialog->fillWindowMenu(menu);
        for (QAction *action : menu.actions()) {
            if (action->menu() && action->text() == "Transfer protocol")
                return action->menu()->actions();
        }
        return {};
    }
    void choose(const QString &text) {
        QMenu menu;
        for (QAction *action : protocolActions(menu)) {
            if (action->text() == text)
                action->trigger();
        }
    }
    void click(int id) { dialog->itemAs<QAbstractButton>(id)->click(); }

    QTemporaryDir dir;
    QTemporaryDir peerDir;
    Pty pty;
    std::unique_ptr<TerminalDialog> dialog;
    MessageRecorder messages;
};

TEST_F(WindowProtocols, TheMenuPicksTheProtocolAndKeepsItBetweenRuns) {
    QMenu menu;
    const QList<QAction *> actions = protocolActions(menu);
    QStringList texts;
    for (QAction *action : actions)
        texts << action->text();
    EXPECT_EQ(texts, (QStringList{"None", "XMODEM", "XMODEM-1K", "YMODEM", "ZMODEM"}));
    ASSERT_EQ(actions.size(), 5);
    EXPECT_TRUE(actions[0]->isChecked());
    EXPECT_FALSE(dialog->transferProtocol());
    choose("XMODEM-1K");
    EXPECT_EQ(dialog->transferProtocol(), protocols::Protocol::Xmodem1k);
    dialog->OnCancel();
    // The next run, on the settings the first left (startedDialog would clear them).
    auto next = std::make_unique<TerminalDialog>();
    ASSERT_TRUE(next->OnInitDialog());
    EXPECT_EQ(next->transferProtocol(), protocols::Protocol::Xmodem1k);
    dialog = std::move(next);
    QMenu again;
    EXPECT_TRUE(protocolActions(again).value(2)->isChecked());
    choose("None");
    EXPECT_FALSE(dialog->transferProtocol());
}

TEST_F(WindowProtocols, SendAndStartTransferWithTheChosenProtocolAndStopCancels) {
    choose("YMODEM");
    const QByteArray bytes = randomPayload(300000);
    const QString source = dir.filePath("fw.bin");
    writeFile(source, bytes);
    dialog->itemAs<QLineEdit>(ctl::SendFile)->setText(source);
    dialog->itemAs<QLineEdit>(ctl::Delay)->setText("5");
    {
        LrzszPeer rb(pty.master(), {"rb", "-b"}, peerDir.path());
        click(ctl::Send);
        EXPECT_FALSE(dialog->item(ctl::Send)->isEnabled());
        ASSERT_TRUE(waitUntil([&] { return !messages.messages().empty(); }, 60000));
        EXPECT_EQ(messages.lastText(), "Transfer complete: fw.bin, 300000 bytes");
        EXPECT_EQ(rb.wait(), 0);
    }
    EXPECT_EQ(readFile(peerDir.filePath("fw.bin")), bytes);
    EXPECT_TRUE(dialog->item(ctl::Send)->isEnabled());
    // The delay field stays as it was: it is for plain sends.
    EXPECT_EQ(dialog->itemAs<QLineEdit>(ctl::Delay)->text(), "5");
    messages.clear();
    {
        // Start receives into the drop directory; the received name was taken, so the next
        // free one is used.
        LrzszPeer sb(pty.master(), {"sb", "-b", source}, peerDir.path());
        click(ctl::Start);
        ASSERT_TRUE(waitUntil([&] { return !messages.messages().empty(); }, 60000));
        EXPECT_EQ(messages.lastText(), "Transfer complete: fw-1.bin, 300000 bytes");
        EXPECT_EQ(sb.wait(), 0);
    }
    EXPECT_EQ(readFile(dir.filePath("fw-1.bin")), bytes);
    messages.clear();
    {
        const QByteArray big = randomPayload(8 << 20, 3);
        writeFile(dir.filePath("big.bin"), big);
        LrzszPeer sb(pty.master(), {"sb", "-b", dir.filePath("big.bin")}, peerDir.path(),
                     {0, 0, 1, 4096});
        dialog->itemAs<QLineEdit>(ctl::DropDirectory)->setText(peerDir.path());
        click(ctl::Start);
        ASSERT_TRUE(
            waitUntil([&] { return QFileInfo(peerDir.filePath("big.bin.part")).size() > 8192; }));
        click(ctl::Stop);
        ASSERT_TRUE(waitUntil([&] { return !messages.messages().empty(); }, 10000));
        EXPECT_TRUE(messages.lastText().startsWith("Transfer aborted"))
            << messages.lastText().toStdString();
        EXPECT_NE(sb.wait(), 0);
        EXPECT_FALSE(QFileInfo::exists(peerDir.filePath("big.bin")));
    }
}

} // namespace
