#include "app/settings_store.h"
#include "app/terminal_dialog.h"
#include "res/control_ids.h"
#include "tests/test_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QStandardPaths>
#include <gtest/gtest.h>

namespace {

QSettings store() {
    return QSettings(QStringLiteral("Brisgal"), QStringLiteral("Kalvosan"));
}

std::unique_ptr<TerminalDialog> startedDialog() {
    auto dialog = std::make_unique<TerminalDialog>();
    EXPECT_TRUE(dialog->OnInitDialog());
    return dialog;
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { store().clear(); }
    testsupport::MessageRecorder messages;
};

TEST_F(SettingsTest, FirstRunShowsDefaultsAndExitWritesEveryValue) {
    auto dialog = startedDialog();
    EXPECT_EQ(dialog->itemAs<QLineEdit>(ctl::Delay)->text(), "-1");
    dialog->OnCancel();
    QSettings s = store();
    s.beginGroup("Settings");
    // The eleven of the window's controls, whether captures record arrival times, and the
    // transfer protocol.
    EXPECT_EQ(s.childKeys().size(), 13);
    EXPECT_EQ(s.value("times").toString(), "0");
    EXPECT_EQ(s.value("protocol").toString(), "none");
    EXPECT_EQ(s.value("port").toString(), "COM3");
    EXPECT_EQ(s.value("datab").toString(), "8");
    EXPECT_EQ(s.value("stopb").toString(), "1");
    EXPECT_EQ(s.value("parity").toString(), "None");
    EXPECT_EQ(s.value("baudrate").toString(), "9600");
    EXPECT_EQ(s.value("flow").toString(), "None");
    EXPECT_EQ(s.value("delay").toString(), "-1");
    EXPECT_EQ(s.value("file2").toString(), "");
    EXPECT_EQ(s.value("mode").toByteArray(), QByteArray("\0\0\0\0", 4));
}

TEST_F(SettingsTest, EveryValueSurvivesARestart) {
    {
        auto dialog = startedDialog();
        dialog->itemAs<QComboBox>(ctl::Port)->setEditText("COM31"); // typed, not in the list
        dialog->itemAs<QComboBox>(ctl::DataBits)->setCurrentIndex(3);
        dialog->itemAs<QComboBox>(ctl::StopBits)->setCurrentIndex(1);
        dialog->itemAs<QComboBox>(ctl::Parity)->setCurrentIndex(3);
        dialog->itemAs<QComboBox>(ctl::Baud)->setEditText("250000");
        dialog->itemAs<QComboBox>(ctl::Flow)->setCurrentIndex(0);
        dialog->itemAs<QLineEdit>(ctl::Delay)->setText("5");
        dialog->itemAs<QLineEdit>(ctl::CaptureFile)->setText("cap0001.vm2");
        dialog->itemAs<QLineEdit>(ctl::DropDirectory)->setText("/tmp/drop dir");
        dialog->itemAs<QLineEdit>(ctl::SendFile)->setText("");
        dialog->itemAs<QCheckBox>(ctl::Mode)->setChecked(true);
        dialog->OnRecordArrivalTimes(true);
        dialog->OnCancel();
    }
    EXPECT_EQ(store().value("Settings/mode").toByteArray(), QByteArray("\1\0\0\0", 4));
    auto dialog = startedDialog();
    EXPECT_TRUE(dialog->recordsArrivalTimes());
    EXPECT_EQ(dialog->itemAs<QComboBox>(ctl::Port)->currentText(), "COM31");
    EXPECT_EQ(dialog->itemAs<QComboBox>(ctl::DataBits)->currentText(), "7");
    EXPECT_EQ(dialog->itemAs<QComboBox>(ctl::StopBits)->currentText(), "1.5");
    EXPECT_EQ(dialog->itemAs<QComboBox>(ctl::Parity)->currentText(), "Odd");
    EXPECT_EQ(dialog->itemAs<QComboBox>(ctl::Baud)->currentText(), "250000");
    EXPECT_EQ(dialog->itemAs<QComboBox>(ctl::Flow)->currentText(), "Hardware");
    EXPECT_EQ(dialog->itemAs<QLineEdit>(ctl::Delay)->text(), "5");
    EXPECT_EQ(dialog->itemAs<QLineEdit>(ctl::CaptureFile)->text(), "cap0001.vm2");
    EXPECT_EQ(dialog->itemAs<QLineEdit>(ctl::DropDirectory)->text(), "/tmp/drop dir");
    EXPECT_EQ(dialog->itemAs<QLineEdit>(ctl::SendFile)->text(), "");
    EXPECT_TRUE(dialog->itemAs<QCheckBox>(ctl::Mode)->isChecked());
    // The store works on the controls; the members follow at the next exchange.
    EXPECT_TRUE(dialog->UpdateData(true));
    EXPECT_EQ(dialog->sendDelay(), 5);
    EXPECT_EQ(dialog->portName(), "COM31");
}

TEST_F(SettingsTest, ListsSelectTheFirstItemBeginningWithTheStoredTextIgnoringCase) {
    QSettings s = store();
    s.setValue("Settings/stopb", "1");                  // "1", not "1.5"
    s.setValue("Settings/parity", "odd");               // case ignored
    s.setValue("Settings/flow", "soft");                // a prefix
    s.setValue("Settings/datab", "9");                  // matches nothing: selection unchanged
    s.setValue("Settings/mode", QByteArray("\1\0", 2)); // wrong size: box unchanged
    s.setValue("Settings/file1", QString(5000, 'a'));   // too long: refused
    s.sync();
    auto dialog = startedDialog();
    EXPECT_EQ(dialog->itemAs<QComboBox>(ctl::StopBits)->currentText(), "1");
    EXPECT_EQ(dialog->itemAs<QComboBox>(ctl::Parity)->currentText(), "Odd");
    EXPECT_EQ(dialog->itemAs<QComboBox>(ctl::Flow)->currentText(), "Software");
    EXPECT_EQ(dialog->itemAs<QComboBox>(ctl::DataBits)->currentText(), "8");
    EXPECT_FALSE(dialog->itemAs<QCheckBox>(ctl::Mode)->isChecked());
    EXPECT_EQ(dialog->itemAs<QLineEdit>(ctl::CaptureFile)->text(), "data000000.bin");
}

TEST_F(SettingsTest, AGarbledStoreLeavesTheDefaults) {
    const QString path = store().fileName();
    testsupport::writeFile(path, QByteArray("[Settings\n\xff\xfe=\x01garbage\n[[[\n"));
    auto dialog = startedDialog();
    EXPECT_EQ(dialog->itemAs<QComboBox>(ctl::Port)->currentText(), "COM3");
    EXPECT_EQ(dialog->itemAs<QLineEdit>(ctl::Delay)->text(), "-1");
}

} // namespace
