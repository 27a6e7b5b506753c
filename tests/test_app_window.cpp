#include "app/about_dialog.h"
#include "app/application_identity.h"
#include "app/link_label.h"
#include "app/terminal_dialog.h"
#include "hexedit/editor_pane.h"
#include "hexedit/hex_cell_edit.h"
#include "hexedit/hex_list_box.h"
#include "res/control_ids.h"
#include "tests/test_support.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        dialog = testsupport::startedDialog();
        ASSERT_TRUE(dialog);
    }
    std::unique_ptr<TerminalDialog> dialog;
    testsupport::MessageRecorder messages;
};

TEST_F(WindowTest, StartsCollapsedIdleWithTheDefaults) {
    EXPECT_EQ(dialog->height(), dialog->item(ctl::PaneMarker)->geometry().top());
    EXPECT_GT(dialog->fullHeight(), dialog->collapsedHeight());
    EXPECT_EQ(dialog->itemAs<QLineEdit>(ctl::Delay)->text(), "-1");
    EXPECT_EQ(dialog->itemAs<QComboBox>(ctl::Port)->currentText(), "COM3");
    EXPECT_EQ(dialog->itemAs<QComboBox>(ctl::Baud)->currentText(), "9600");
    EXPECT_EQ(dialog->itemAs<QComboBox>(ctl::DataBits)->currentText(), "8");
    EXPECT_EQ(dialog->itemAs<QComboBox>(ctl::Parity)->currentText(), "None");
    EXPECT_EQ(dialog->itemAs<QComboBox>(ctl::Flow)->currentText(), "None");
    EXPECT_EQ(dialog->itemAs<QLineEdit>(ctl::CaptureFile)->text(), "data000000.bin");
    EXPECT_FALSE(dialog->item(ctl::Stop)->isEnabled());
    EXPECT_FALSE(dialog->item(ctl::Abort)->isEnabled());
    EXPECT_FALSE(dialog->item(ctl::Case)->isEnabled());
    EXPECT_FALSE(dialog->itemAs<QProgressBar>(ctl::Progress)->isVisible());
    EXPECT_FALSE(dialog->item(ctl::Animation)->isVisible());
    for (int hidden : {1055, 1051, 1052, 1048, 1027})
        EXPECT_FALSE(dialog->item(hidden)->isVisible()) << hidden;
    EXPECT_TRUE(dialog->editorPane()->lineFont().fixedPitch());
    EXPECT_TRUE(QFontInfo(dialog->hexList()->font()).fixedPitch());
}

TEST_F(WindowTest, ComboListsKeepTheirOrder) {
    EXPECT_EQ(dialog->itemAs<QComboBox>(ctl::Port)->count(), 22);
    EXPECT_EQ(dialog->itemAs<QComboBox>(ctl::Port)->itemText(0), "COM3");
    EXPECT_EQ(dialog->itemAs<QComboBox>(ctl::Port)->itemText(21), "COM24");
    EXPECT_EQ(dialog->itemAs<QComboBox>(ctl::Parity)->itemText(1), "Mark");
    EXPECT_EQ(dialog->itemAs<QComboBox>(ctl::Baud)->count(), 20);
    EXPECT_EQ(dialog->itemAs<QComboBox>(ctl::Baud)->itemText(10), "56000");
    EXPECT_EQ(dialog->itemAs<QComboBox>(ctl::StopBits)->itemText(1), "1.5");
}

TEST_F(WindowTest, EveryControlHasAnAccessibleName) {
    for (int id : {1000, 1001, 1002, 1003, 1004, 1005, 1047, 1006, 1007, 1012, 1017, 1019, 1054})
        EXPECT_FALSE(dialog->item(id)->accessibleName().isEmpty()) << id;
    EXPECT_EQ(dialog->item(ctl::HexList)->accessibleName(), "Hex lines");
    EXPECT_EQ(dialog->item(ctl::Exit)->accessibleName(), "Exit");
    EXPECT_EQ(dialog->item(ctl::InputBuffer)->accessibleName(), "Input buffer");
}

// Screen readers announce a combo box on Linux by the label that names it (its buddy).
TEST_F(WindowTest, LabelsNameTheirControlsForScreenReaders) {
    const std::pair<int, const char *> labelled[] = {
        {1000, "Port"},        {1001, "Data bits"},
        {1002, "Stop bits"},   {1003, "Parity"},
        {1004, "Baudrate"},    {1005, "Flow Control"},
        {1006, "File"},        {1007, "Drop directory"},
        {1012, "File"},        {1047, "Send delay per bytes"},
        {1054, "Input buffer"}};
    for (const auto &[id, caption] : labelled) {
        QAccessibleInterface *control = QAccessible::queryAccessibleInterface(dialog->item(id));
        ASSERT_NE(control, nullptr) << id;
        QStringList labels;
        for (const auto &[other, relation] : control->relations(QAccessible::Label))
            labels << other->text(QAccessible::Name);
        EXPECT_EQ(labels, QStringList{caption}) << id << ": " << labels.join(',').toStdString();
    }
}

// The user types into the focused combo box: the text is taken as typed, not completed from
// the list (COM2 is not in it, COM20 is; 5 and 1152 begin 56000 and 115200).
TEST_F(WindowTest, TypedPortNamesAndBaudRatesAreNotCompleted) {
    const auto typeInto = [this](QComboBox *combo, const QString &text) {
        dialog->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
        combo->setFocus();
        QWidget *focused = QApplication::focusWidget();
        combo->lineEdit()->selectAll();
        QTest::keyClick(focused, Qt::Key_Backspace);
        QTest::keyClicks(focused, text);
        return combo->currentText();
    };
    EXPECT_EQ(typeInto(dialog->itemAs<QComboBox>(ctl::Baud), "5"), "5");
    EXPECT_EQ(typeInto(dialog->itemAs<QComboBox>(ctl::Baud), "1152"), "1152");
    EXPECT_EQ(typeInto(dialog->itemAs<QComboBox>(ctl::Port), "COM2"), "COM2");
    QTest::mouseClick(dialog->item(ctl::Start), Qt::LeftButton);
    ASSERT_FALSE(messages.messages().empty());
    EXPECT_EQ(messages.lastText(), "Could not open port COM2");
}

// The cell editor can be found by walking the accessibility tree from the window, and
// right-clicking it opens no menu at all, in particular not the window's.
TEST_F(WindowTest, TheCellEditorIsReachableAndHasNoContextMenu) {
    dialog->OnEditor();
    dialog->OnNew();
    ASSERT_FALSE((dialog->cellEdit() == nullptr));
    QWidget *edit = dialog->cellEdit();
    QAccessibleInterface *window = QAccessible::queryAccessibleInterface(dialog.get());
    QAccessibleInterface *found = nullptr;
    for (int i = 0; i < window->childCount() && !found; ++i) {
        if (window->child(i)->text(QAccessible::Name) == "Hex cell editor")
            found = window->child(i);
    }
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->object(), edit);
    EXPECT_EQ(found->parent(), window);
    EXPECT_EQ(window->indexOfChild(found), window->childCount() - 1);
    EXPECT_EQ(found->text(QAccessible::Value), dialog->hexList()->lineText(0));
    ASSERT_NE(found->textInterface(), nullptr);
    int start = -1, end = -1;
    found->textInterface()->selection(0, &start, &end);
    EXPECT_EQ(end - start, 1); // the cell typed over
    bool menuShown = false;
    QTimer::singleShot(200, [&] {
        if (QWidget *popup = QApplication::activePopupWidget()) {
            menuShown = true;
            popup->close();
        }
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            edit->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(edit, &event);
    QTest::qWait(300);
    EXPECT_FALSE(menuShown);
}

// What a screen reader lists: the controls the accessibility bus reports as not invisible.
int showingButtonsNamed(QAccessibleInterface *node, const QString &name) {
    int count = node->role() == QAccessible::Button && !node->state().invisible &&
                node->text(QAccessible::Name) == name;
    for (int i = 0; i < node->childCount(); ++i)
        count += showingButtonsNamed(node->child(i), name);
    return count;
}

// The widgets Tab lands on, from the Port box once around the window.
QList<QWidget *> tabChain(TerminalDialog &dialog) {
    dialog.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
    dialog.item(ctl::Port)->setFocus();
    QList<QWidget *> chain;
    for (QWidget *focus = QApplication::focusWidget(); focus && !chain.contains(focus);
         focus = QApplication::focusWidget()) {
        chain << focus;
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    return chain;
}

// The closed pane lies below the window's edge: a screen reader must not list its controls
// (a second "Send" among them) nor Tab reach them, until the pane opens.
TEST_F(WindowTest, TheClosedEditorPaneIsHiddenFromScreenReadersAndTab) {
    QAccessibleInterface *window = QAccessible::queryAccessibleInterface(dialog.get());
    const auto inPane = [this](QWidget *w) { return dialog->editorPane()->isAncestorOf(w); };
    const QList<QWidget *> controls = dialog->editorPane()->findChildren<QWidget *>();
    for (int round = 0; round < 2; ++round) { // as the window starts, then closed again
        EXPECT_EQ(showingButtonsNamed(window, "Send"), 1);
        QStringList reported;
        for (QWidget *control : controls) {
            QAccessibleInterface *node = QAccessible::queryAccessibleInterface(control);
            ASSERT_NE(node, nullptr);
            if (!node->state().invisible)
                reported << control->accessibleName() + '/' + control->metaObject()->className();
        }
        EXPECT_EQ(reported.join(", ").toStdString(), "");
        const QList<QWidget *> closedChain = tabChain(*dialog);
        EXPECT_GT(closedChain.size(), 10);
        EXPECT_TRUE(std::none_of(closedChain.begin(), closedChain.end(), inPane));

        dialog->OnEditor();
        EXPECT_EQ(showingButtonsNamed(window, "Send"), 2);
        const QList<QWidget *> openChain = tabChain(*dialog);
        EXPECT_TRUE(openChain.contains(dialog->item(ctl::EditorSend)));
        EXPECT_TRUE(openChain.contains(dialog->item(ctl::FindText)));
        dialog->OnEditor();
    }
}

TEST_F(WindowTest, StatesSwitchTheControlsInOneCall) {
    dialog->SetControlState(ControlState::Capturing);
    EXPECT_TRUE(dialog->item(ctl::Stop)->isEnabled());
    for (int off : {1000, 1005, 1006, 1007, 2, 1016, 1020, 1021, 1022, 1023, 1008, 1011, 1013, 1012,
                    1014, 1041})
        EXPECT_FALSE(dialog->item(off)->isEnabled()) << off;
    EXPECT_TRUE(dialog->item(ctl::Animation)->isVisible());
    EXPECT_FALSE(dialog->itemAs<QProgressBar>(ctl::Progress)->isVisible());
    dialog->SetControlState(ControlState::Sending);
    EXPECT_TRUE(dialog->item(ctl::Abort)->isEnabled());
    EXPECT_FALSE(dialog->item(ctl::Stop)->isEnabled());
    EXPECT_TRUE(dialog->itemAs<QProgressBar>(ctl::Progress)->isVisible());
    dialog->SetControlState(ControlState::Idle);
    for (int on : {1000, 1005, 1006, 2, 1016, 1008, 1011, 1013, 1012, 1041})
        EXPECT_TRUE(dialog->item(on)->isEnabled()) << on;
    EXPECT_FALSE(dialog->item(ctl::Stop)->isEnabled());
    EXPECT_FALSE(dialog->item(ctl::Abort)->isEnabled());
    EXPECT_FALSE(dialog->item(ctl::Animation)->isVisible());
}

TEST_F(WindowTest, EnterNeverClosesEscapeClosesAndSaves) {
    QTest::keyClick(dialog->itemAs<QLineEdit>(ctl::CaptureFile), Qt::Key_Return);
    QTest::keyClick(dialog.get(), Qt::Key_Enter);
    EXPECT_TRUE(dialog->isVisible());
    dialog->itemAs<QLineEdit>(ctl::CaptureFile)->setText("typed.bin");
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    QSettings settings(QStringLiteral("Brisgal"), QStringLiteral("Kalvosan"));
    EXPECT_EQ(settings.value("Settings/file1").toString(), "typed.bin");
}

TEST_F(WindowTest, TheWindowMenuStartsWithCreditsWhichOpensTheAboutBox) {
    QMenu menu;
    dialog->fillWindowMenu(menu);
    const QList<QAction *> actions = menu.actions();
    ASSERT_EQ(actions.size(), 9);
    EXPECT_EQ(actions[0]->text(), "&Credits");
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2]->text(), "Last send &timing...");
    EXPECT_FALSE(actions[2]->isEnabled()); // no send byte by byte yet
    EXPECT_EQ(actions[3]->text(), "Terminal...");
    EXPECT_EQ(actions[4]->text(), "Record &arrival times");
    EXPECT_TRUE(actions[4]->isCheckable());
    EXPECT_FALSE(actions[4]->isChecked());
    EXPECT_EQ(actions[5]->text(), "Transfer protocol");
    EXPECT_TRUE(actions[5]->menu());
    EXPECT_TRUE(actions[6]->isSeparator());
    EXPECT_EQ(actions[7]->text(), "Minimize");
    EXPECT_EQ(actions[8]->text(), "Close");
    QString shown;
    platform::uiHooks().execDialog = [&](QDialog *d) {
        shown = d->windowTitle();
        return int(QDialog::Accepted);
    };
    actions[0]->trigger();
    platform::uiHooks().execDialog = nullptr;
    EXPECT_EQ(shown, "About Kalvosan..");
}

TEST_F(WindowTest, CloseIsRefusedWhileATransferRuns) {
    dialog->SetControlState(ControlState::Capturing);
    dialog->close();
    EXPECT_TRUE(dialog->isVisible());
    dialog->SetControlState(ControlState::Idle);
    dialog->close();
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(WindowTest, DelayMustBeAnIntegerAndTheExchangeStopsThere) {
    dialog->itemAs<QLineEdit>(ctl::Delay)->setText("12x");
    dialog->itemAs<QComboBox>(ctl::Port)->setEditText("COM9");
    EXPECT_FALSE(dialog->UpdateData(true));
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.lastText(), "Please enter an integer.");
    EXPECT_EQ(dialog->portName(), "COM3"); // later members keep their values
    dialog->itemAs<QLineEdit>(ctl::Delay)->setText("-7");
    EXPECT_TRUE(dialog->UpdateData(true));
    EXPECT_EQ(dialog->sendDelay(), -7);
    EXPECT_EQ(dialog->portName(), "COM9");
}

TEST_F(WindowTest, OverflowIndicatorFollowsTheLineCountOnlyWhileThePaneIsOpen) {
    QStringList lines(32735, QStringLiteral("x"));
    dialog->hexList()->addItems(lines);
    dialog->item(ctl::Overflow)->hide();
    dialog->OnEditor();
    dialog->OnTimer();
    EXPECT_FALSE(dialog->item(ctl::Overflow)->isVisible());
    dialog->hexList()->addItem(QStringLiteral("x"));
    dialog->OnTimer();
    EXPECT_TRUE(dialog->item(ctl::Overflow)->isVisible());
    dialog->OnEditor(); // closed: the indicator keeps its state whatever the count
    dialog->hexList()->clear();
    dialog->OnTimer();
    EXPECT_FALSE(dialog->editorOpen());
    dialog->OnEditor();
    EXPECT_EQ(dialog->height(), dialog->fullHeight());
    dialog->OnTimer();
    EXPECT_FALSE(dialog->item(ctl::Overflow)->isVisible());
}

// Desktop shells match the window to the installed entry by its desktop file name; the version
// the program and its About box show is the project's.
TEST(ApplicationTest, NamesItsDesktopEntryAndShowsTheProjectVersion) {
    describeApplication();
    const QFileInfo entry(QStringLiteral(KV_DESKTOP_ENTRY));
    ASSERT_TRUE(entry.isFile()) << KV_DESKTOP_ENTRY;
    EXPECT_EQ((QGuiApplication::desktopFileName() + ".desktop").toStdString(),
              entry.fileName().toStdString());
    EXPECT_EQ(QCoreApplication::applicationVersion().toStdString(), KV_PROJECT_VERSION);
    AboutDialog about;
    QStringList texts;
    for (const QLabel *label : about.findChildren<QLabel *>())
        texts << label->text();
    EXPECT_TRUE(texts.contains("Kalvosan Version " KV_PROJECT_VERSION))
        << texts.join('|').toStdString();
}

TEST(LinkLabelTest, ColoursFollowHoverAndVisitedAndAFailedOpenChangesNothing) {
    AboutDialog about;
    LinkLabel *web = about.m_webLink;
    EXPECT_EQ(web->currentColor(), QColor(0, 0, 255));
    EXPECT_TRUE(web->font().underline());
    web->setHover(true);
    EXPECT_EQ(web->currentColor(), QColor(0, 0, 200));
    QStringList opened;
    platform::uiHooks().openUrl = [&](const QString &url) {
        opened << url;
        return false;
    };
    web->open();
    EXPECT_FALSE(web->visited());
    platform::uiHooks().openUrl = [&](const QString &url) {
        opened << url;
        return true;
    };
    about.m_mailLink->open();
    EXPECT_TRUE(about.m_mailLink->visited());
    about.m_mailLink->setHover(true);
    EXPECT_EQ(about.m_mailLink->currentColor(), QColor(170, 0, 128));
    about.m_mailLink->setHover(false);
    EXPECT_EQ(about.m_mailLink->currentColor(), QColor(128, 0, 128));
    EXPECT_EQ(opened, QStringList({"https://brisgal.example", "mailto:kalvosan@brisgal.example"}));
    platform::uiHooks().openUrl = nullptr;
}

TEST(LinkLabelTest, AnEmptyTargetOpensTheLabelsOwnText) {
    AboutDialog about;
    about.m_webLink->setTarget(QString());
    QString opened;
    platform::uiHooks().openUrl = [&](const QString &url) {
        opened = url;
        return true;
    };
    about.m_webLink->open();
    platform::uiHooks().openUrl = nullptr;
    EXPECT_EQ(opened, about.m_webLink->text());
    EXPECT_EQ(about.windowTitle(), "About Kalvosan..");
}

} // namespace
