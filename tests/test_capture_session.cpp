// Captures end to end: the window's buttons, a pty as the device, the file on disk.
#include "hexedit/hex_list_box.h"
#include "res/control_ids.h"
#include "serial/serial_port.h"
#include "tests/fake_sysfs.h"
#include "tests/test_capture_fixture.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QTest>

namespace {

QByteArray everyByteValue() {
    QByteArray bytes(256, 0);
    for (int i = 0; i < 256; ++i)
        bytes[i] = char(i);
    return bytes;
}

QByteArray randomBlock(qsizetype size) {
    QByteArray bytes(size, 0);
    QRandomGenerator rng(20240613);
    for (char &b : bytes)
        b = char(rng.bounded(256));
    bytes[0] = 'R'; // never a sync byte
    return bytes;
}

TEST_F(CaptureTest, CapturesEveryByteUnchangedAndShowsTheCount) {
    clickStart();
    EXPECT_TRUE(capturing());
    EXPECT_EQ(dialog->windowTitle(), "Kalvosan v" KV_PROJECT_VERSION);
    for (int off : {1000, 1005, 1006, 1007, 2, 1016, 1011, 1013, 1041})
        EXPECT_FALSE(dialog->item(off)->isEnabled()) << off;
    syncWithWorker();
    const QByteArray payload = everyByteValue() + randomBlock(300 * 1024);
    sendAndWait(payload);
    clickStop();
    EXPECT_FALSE(dialog->transferRunning());
    EXPECT_EQ(payloadInFile(), payload);
    const QString title = QStringLiteral("Kalvosan - Bytes received: %1").arg(fileSize());
    EXPECT_TRUE(testsupport::waitUntil([&] { return dialog->windowTitle() == title; }))
        << dialog->windowTitle().toStdString();
    EXPECT_FALSE(capturing());
    EXPECT_TRUE(dialog->item(ctl::Scan)->isEnabled());
    EXPECT_EQ(dialog->itemAs<QLineEdit>(ctl::CaptureFile)->text(), "data000001.bin");
    EXPECT_TRUE(messages.messages().empty());
}

TEST_F(CaptureTest, HeaderRuleAndNameAdvance) {
    struct Case {
        QString name;
        QByteArray header;
        QString next;
    };
    const Case cases[] = {{"abc.vmf", "ab", "abc.vmf"},
                          {"ab.vmf", "", "ab.vmf"},
                          {"XY0001.VM2", "XY", "XY0002.VM2"},
                          {"data000009.bin", "", "data000010.bin"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        setFileName(c.name);
        clickStart();
        ASSERT_TRUE(capturing());
        const QString file = path();
        syncWithWorker();
        sendAndWait("DATA");
        clickStop();
        const QByteArray content = testsupport::readFile(file);
        EXPECT_EQ(content.left(c.header.size()), c.header);
        EXPECT_TRUE(content.endsWith("DATA"));
        EXPECT_NE(content.at(c.header.size()), 'D'); // a sync byte follows the header
        EXPECT_EQ(dialog->itemAs<QLineEdit>(ctl::CaptureFile)->text(), c.next);
    }
}

TEST_F(CaptureTest, BytesWaitingBeforeTheStartAreDroppedAndTheLastOnesKept) {
    {
        // The bytes must really be queued in the port before "Start", or the test proves nothing.
        serial::SerialPort probe;
        ASSERT_TRUE(probe.open(pty.slavePath()));
        pty.write("STALE");
        ASSERT_TRUE(testsupport::waitUntil([&] { return probe.bytesAvailable() == 5; }));
    }
    clickStart();
    syncWithWorker();
    sendAndWait("FRESH");
    // Sent right before "Stop", with no time for the loop: the last read takes them.
    pty.write("LAST");
    clickStop();
    EXPECT_EQ(payloadInFile(), "FRESHLAST");
}

TEST_F(CaptureTest, ACaptureWithoutInputLeavesAnEmptyFileAndTheTitle) {
    clickStart();
    ASSERT_TRUE(capturing());
    const QString file = path();
    QTest::qWait(200);
    clickStop();
    EXPECT_TRUE(QFileInfo::exists(file));
    EXPECT_EQ(QFileInfo(file).size(), 0);
    QTest::qWait(100);
    EXPECT_EQ(dialog->windowTitle(), "Kalvosan v" KV_PROJECT_VERSION);
}

TEST_F(CaptureTest, TheOpenPaneShowsTheCaptureWhileItRuns) {
    dialog->OnEditor();
    ASSERT_TRUE(dialog->editorOpen());
    clickStart();
    syncWithWorker();
    sendAndWait(QByteArray(64, 'x'));
    // While the file grows the pane shows its full lines.
    const int fullLines = int(fileSize() / 16);
    EXPECT_TRUE(testsupport::waitUntil([&] { return dialog->hexList()->count() >= fullLines; }))
        << dialog->hexList()->count() << " of " << fullLines;
    EXPECT_TRUE(capturing());
    EXPECT_TRUE(dialog->hexList()->lineText(fullLines - 1).endsWith("xxxxxxxxxxxxxxxx"));
    sendAndWait("yyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyy");
    clickStop();
    // Finish reads the file to its end, the last part line included.
    const int lines = int((fileSize() + 15) / 16);
    EXPECT_TRUE(testsupport::waitUntil([&] { return dialog->hexList()->count() == lines; }))
        << dialog->hexList()->count() << " of " << lines;
    const QString tail = QString::fromLatin1(testsupport::readFile(path()).mid((lines - 1) * 16));
    EXPECT_TRUE(dialog->hexList()->lineText(lines - 1).endsWith(tail));
}

TEST_F(CaptureTest, RefusedRs485IsReportedAndTheCaptureGoesOn) {
    auto *rs485 = dialog->itemAs<QCheckBox>(ctl::Rs485);
    EXPECT_FALSE(rs485->isVisible());
    rs485->setChecked(true);
    clickStart();
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.lastText(), "Unable to pass data into driver");
    EXPECT_EQ(messages.messages().back().icon, platform::MessageIcon::None);
    EXPECT_TRUE(capturing());
    syncWithWorker();
    sendAndWait("ok");
    clickStop();
    EXPECT_EQ(payloadInFile(), "ok");
}

// A delay that is not an integer stops "Start" before anything is opened: the window names
// another port than the one the members still hold.
TEST_F(CaptureTest, ABadDelayStopsTheStartBeforeAnythingIsOpened) {
    clickStart();
    clickStop();
    dialog->itemAs<QLineEdit>(ctl::Delay)->setText("ten");
    setPort(QStringLiteral("/dev/kalvosan-no-such-port"));
    clickStart();
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.lastText(), "Please enter an integer.");
    EXPECT_FALSE(capturing());
    EXPECT_FALSE(dialog->transferRunning());
    EXPECT_FALSE(QFileInfo::exists(path()));
}

// The scan looks in the program's device folder (here a tree with the window's own pty as
// ttyUSB0, beside a twin adapter, an ACM device and a UART), and each item it lists tells its
// device apart: product, maker, ids, serial number and stable name.
TEST_F(CaptureTest, ScanReleasesThePortWithoutBlockingAndDescribesWhatItLists) {
    testsupport::FakeSysfs tree;
    testsupport::Pty twin, acm, uart;
    ASSERT_TRUE(testsupport::addBench(
        tree, {pty.slavePath(), twin.slavePath(), acm.slavePath(), uart.slavePath()}));
    const testsupport::TreeInUse inUse(tree);
    clickStart();
    clickStop();
    ASSERT_TRUE(dialog->heldPort() && dialog->heldPort()->isOpen()); // "Stop" leaves it open
    auto *combo = dialog->itemAs<QComboBox>(ctl::Port);
    const int entries = combo->count();
    dialog->OnScan();
    EXPECT_FALSE(dialog->heldPort() && dialog->heldPort()->isOpen());
    EXPECT_FALSE(dialog->item(ctl::Scan)->isEnabled());
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    // The probing waits for its pause on a timer: nothing has been listed yet.
    EXPECT_EQ(combo->count(), entries);
    ASSERT_TRUE(testsupport::waitUntil([&] { return dialog->item(ctl::Scan)->isEnabled(); }));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(combo->currentIndex(), -1);
    EXPECT_EQ(combo->currentText(), "");
    ASSERT_EQ(combo->count(), 4);
    const QString ftdi =
        "FT232R USB UART - FTDI (0403:6001, serial A50285B%1) - " + tree.dev() + "/serial/by-id/";
    const std::pair<QString, QString> items[] = {
        {"COM1", "serial8250 - " + tree.dev() + "/ttyS0"},
        {"ttyUSB0", ftdi.arg('I') + testsupport::kFirstFtdi},
        {"ttyUSB1", ftdi.arg('J') + testsupport::kSecondFtdi}};
    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(combo->view());
    ASSERT_NE(list, nullptr);
    for (const auto &[name, description] : items) {
        const int i = combo->findText(name);
        ASSERT_GE(i, 0) << name.toStdString();
        EXPECT_EQ(combo->itemData(i, Qt::ToolTipRole).toString(), description);
        ASSERT_NE(list->child(i), nullptr);
        EXPECT_EQ(list->child(i)->text(QAccessible::Name), name);
        EXPECT_EQ(list->child(i)->text(QAccessible::Description), description);
    }
}

TEST_F(CaptureTest, ScanStaysDisabledWhenACaptureStartsDuringItsPause) {
    dialog->OnScan();
    setPort(pty.slavePath());
    clickStart();
    ASSERT_TRUE(capturing());
    // The probing has run once it has emptied the port name.
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return dialog->itemAs<QComboBox>(ctl::Port)->currentText().isEmpty(); }));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(dialog->item(ctl::Scan)->isEnabled());
    clickStop();
    EXPECT_TRUE(dialog->item(ctl::Scan)->isEnabled());
}

TEST_F(CaptureTest, RtsButtonsAreSilentWithAndWithoutAPort) {
    dialog->OnRtsOff();
    dialog->OnRtsOn();
    clickStart();
    clickStop();
    dialog->OnRtsOff();
    dialog->OnRtsOn();
    EXPECT_TRUE(messages.messages().empty());
    EXPECT_FALSE(dialog->item(ctl::RtsOff)->isVisible());
    EXPECT_FALSE(dialog->item(ctl::RtsOn)->isVisible());
}

} // namespace
