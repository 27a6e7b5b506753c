#include "app/terminal_dialog.h"

#include "app/about_dialog.h"
#include "app/animation_control.h"
#include "app/dialog_builder.h"
#include "app/settings_store.h"
#include "hexedit/hex_cell_edit_accessible.h"
#include "hexedit/hex_list_box.h"
#include "loader/hexline.h"
#include "platform/files.h"
#include "platform/ui.h"
#include "serial/serial_port.h"
#include "transmit/reply_text.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLibrary>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>

#include <system_error>

namespace {

// Controls switched together by the transfer states.
constexpr int kSettingControls[] = {1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007};
constexpr int kIdleOnlyButtons[] = {2, 1016, 1020, 1021, 1022, 1023, 1008, 1011, 1013, 1012};

QString loaderDirectoryCandidate(int which) {
    const QString dir = QCoreApplication::applicationDirPath();
    return which == 0 ? dir : QDir::cleanPath(dir + QStringLiteral("/../lib/kalvosan"));
}

} // namespace

TerminalDialog::TerminalDialog(QWidget *parent)
    : QDialog(parent), m_startDir(QDir::currentPath()), m_dropDirectory(QDir::homePath()),
      m_font(QStringLiteral("Lucida Console")) {
    // "Lucida Console", 10 pixels high, is asked for by name; where it is missing the system's
    // fixed-pitch face stands in, so that the columns of the hex lines stay aligned.
    m_font.setFamilies({QStringLiteral("Lucida Console"), QStringLiteral("DejaVu Sans Mono"),
                        QStringLiteral("Liberation Mono"), QStringLiteral("monospace")});
    m_font.setStyleHint(QFont::TypeWriter);
    m_font.setFixedPitch(true);
    m_font.setPixelSize(10);
    m_hIcon = QIcon(iconPixmap(128));
    // Stays on top of other windows, like a system-modal dialog.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::WindowStaysOnTopHint);
    // A capture or a save beyond the file-size limit must fail, not kill the program.
    platform::ignoreFileSizeLimitSignal();
    installCellEditAccessibility(staticMetaObject.className());
    createControls();
    connectHandlers();
    UpdateData(false);
}

TerminalDialog::~TerminalDialog() {
    StopAndJoinWorker();
    if (m_hLoader && m_hLoader->isLoaded())
        m_hLoader->unload();
}

void TerminalDialog::createControls() {
    const DialogBuilder builder(res::mainDialogTemplate());
    m_items = builder.build(this, [this](const res::ControlTemplate &, QWidget *parent) {
        m_hexList = new HexListBox(this, parent);
        return m_hexList;
    });
    m_portCombo = itemAs<QComboBox>(1000);
    m_dataBitsCombo = itemAs<QComboBox>(1001);
    m_stopBitsCombo = itemAs<QComboBox>(1002);
    m_parityCombo = itemAs<QComboBox>(1003);
    m_baudCombo = itemAs<QComboBox>(1004);
    m_flowCombo = itemAs<QComboBox>(1005);
    m_animation = itemAs<AnimationControl>(1010);
    m_progress = itemAs<QProgressBar>(1015);
    m_overflowIcon = itemAs<QLabel>(1024);
    // The reply display keeps its last 1 MiB of text, dropping whole lines from the top, and no
    // undo history: an hour of monitoring a talkative device stays bounded.
    auto *reply = itemAs<QPlainTextEdit>(1054);
    reply->setUndoRedoEnabled(false);
    reply->setMaximumBlockCount(kReplyDisplayLines);
}

void TerminalDialog::connectHandlers() {
    const auto onClick = [this](int id, void (TerminalDialog::*handler)()) {
        connect(itemAs<QAbstractButton>(id), &QAbstractButton::clicked, this,
                [this, handler] { (this->*handler)(); });
    };
    onClick(1008, &TerminalDialog::OnStartCapture);
    onClick(1009, &TerminalDialog::OnStopCapture);
    onClick(1011, &TerminalDialog::OnOpenSendFile);
    onClick(1013, &TerminalDialog::OnSend);
    onClick(1014, &TerminalDialog::OnAbort);
    onClick(1016, &TerminalDialog::OnEditor);
    onClick(1023, &TerminalDialog::OnNew);
    onClick(1018, &TerminalDialog::OnFind);
    onClick(1025, &TerminalDialog::OnAsciiCheck);
    onClick(1020, &TerminalDialog::OnSave);
    onClick(1021, &TerminalDialog::OnPrint);
    onClick(1022, &TerminalDialog::OnEditorSend);
    onClick(1051, &TerminalDialog::OnRtsOff);
    onClick(1052, &TerminalDialog::OnRtsOn);
    onClick(1056, &TerminalDialog::OnBrowseDropDirectory);
    onClick(1041, &TerminalDialog::OnScan);
    onClick(2, &TerminalDialog::OnCancel);
    connect(itemAs<QLineEdit>(1019), &QLineEdit::textChanged, this,
            &TerminalDialog::OnFindTextChange);
    connect(&m_timer, &QTimer::timeout, this, &TerminalDialog::OnTimer);
}

bool TerminalDialog::UpdateData(bool saveAndValidate) {
    auto *delayEdit = itemAs<QLineEdit>(1047);
    auto *rs485 = itemAs<QCheckBox>(1055);
    auto *mode = itemAs<QCheckBox>(1057);
    const auto text = [this](int id) { return itemAs<QLineEdit>(id)->text(); };
    if (!saveAndValidate) {
        delayEdit->setText(QString::number(m_sendDelay.load()));
        rs485->setChecked(m_rs485);
        m_baudCombo->setEditText(m_baudRate);
        m_portCombo->setEditText(m_portName);
        m_dataBitsCombo->setCurrentIndex(m_dataBitsIndex);
        m_stopBitsCombo->setCurrentIndex(m_stopBitsIndex);
        m_parityCombo->setCurrentIndex(m_parityIndex);
        m_flowCombo->setCurrentIndex(m_flowIndex);
        itemAs<QLineEdit>(1006)->setText(m_captureFileName);
        itemAs<QLineEdit>(1007)->setText(m_dropDirectory);
        itemAs<QLineEdit>(1012)->setText(m_sendFileName);
        itemAs<QLineEdit>(1019)->setText(m_findText);
        mode->setChecked(m_mode2.load());
        return true;
    }
    // The delay takes signed integers only; the exchange stops at a field that fails.
    bool ok = false;
    const int delay = delayEdit->text().trimmed().toInt(&ok, 10);
    if (!ok) {
        platform::messageBox(this, QStringLiteral("Please enter an integer."),
                             QStringLiteral("Kalvosan"), platform::MessageIcon::Information);
        delayEdit->setFocus();
        delayEdit->selectAll();
        return false;
    }
    m_sendDelay = delay;
    m_rs485 = rs485->isChecked();
    m_baudRate = m_baudCombo->currentText();
    m_portName = m_portCombo->currentText();
    m_dataBitsIndex = m_dataBitsCombo->currentIndex();
    m_stopBitsIndex = m_stopBitsCombo->currentIndex();
    m_parityIndex = m_parityCombo->currentIndex();
    m_flowIndex = m_flowCombo->currentIndex();
    m_captureFileName = text(1006);
    m_dropDirectory = text(1007);
    m_sendFileName = text(1012);
    m_findText = text(1019);
    m_mode2 = mode->isChecked();
    return true;
}

bool TerminalDialog::loadLoaderLibrary() {
    // Only beside the program (or where it is installed), never from the current directory.
    for (int which = 0; which < 2; ++which) {
        const QString path =
            loaderDirectoryCandidate(which) + QLatin1Char('/') + QLatin1String(kLoaderLibraryName);
        if (!QFile::exists(path))
            continue;
        auto library = std::make_unique<QLibrary>(path);
        if (!library->load())
            continue;
        m_pfnStart = reinterpret_cast<LoaderStartFn>(library->resolve("Start"));
        m_pfnStop = reinterpret_cast<LoaderStopFn>(library->resolve("Stop"));
        m_pfnFinish = reinterpret_cast<LoaderFinishFn>(library->resolve("Finish"));
        if (m_pfnStart && m_pfnStop && m_pfnFinish) {
            m_hLoader = std::move(library);
            return true;
        }
        library->unload();
    }
    m_pfnStart = nullptr;
    m_pfnStop = nullptr;
    m_pfnFinish = nullptr;
    platform::messageBox(this,
                         QStringLiteral("Could not find ") + loaderDirectoryCandidate(0) +
                             QLatin1Char('/') + QLatin1String(kLoaderLibraryName) +
                             QStringLiteral("..Aborting.."),
                         QStringLiteral("Kalvosan"), platform::MessageIcon::Critical);
    return false;
}

void TerminalDialog::collapseToMarker() {
    m_fullHeight = height();
    m_collapsedHeight = item(1048)->geometry().top();
    setWindowHeight(m_collapsedHeight);
}

void TerminalDialog::setWindowHeight(int newHeight) {
    setFixedSize(width(), newHeight);
    update();
}

bool TerminalDialog::OnInitDialog() {
    itemAs<QCheckBox>(1026)->setEnabled(false);
    if (!loadLoaderLibrary())
        return false;
    setWindowIcon(m_hIcon);
    m_editorOpen = false;
    collapseToMarker();
    m_animation->open();
    m_animation->hide();
    item(1009)->setEnabled(false);
    item(1014)->setEnabled(false);
    m_progress->hide();
    m_hexList->setFont(m_font);
    SettingsStore::restore(*this);
    m_timer.start(500);
    return true;
}

void TerminalDialog::OnTimer() {
    // While the pane is hidden the indicator keeps its state.
    if (m_editorOpen)
        m_overflowIcon->setVisible(m_hexList->count() >= hexline::kLoaderLineLimit);
}

void TerminalDialog::OnOK() {
    // Enter never closes the window.
}

void TerminalDialog::OnCancel() {
    // "E&xit" is disabled while a transfer runs; Esc and the close box are refused likewise.
    if (!item(2)->isEnabled() && !m_closing)
        return;
    StopAndJoinWorker();
    m_timer.stop();
    if (m_hLoader) {
        m_hLoader->unload();
        m_hLoader.reset();
    }
    m_pfnStart = nullptr;
    m_pfnStop = nullptr;
    m_pfnFinish = nullptr;
    SettingsStore::save(*this);
    QDialog::done(QDialog::Rejected);
}

void TerminalDialog::reject() { OnCancel(); }

void TerminalDialog::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Escape) {
        OnCancel();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        OnOK();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TerminalDialog::closeEvent(QCloseEvent *event) {
    event->ignore();
    OnCancel();
}

void TerminalDialog::fillWindowMenu(QMenu &menu) {
    menu.addAction(QStringLiteral("&Credits"), this, &TerminalDialog::OnCredits);
    menu.addSeparator();
    menu.addAction(QStringLiteral("Minimize"), this, &QWidget::showMinimized);
    menu.addAction(QStringLiteral("Close"), this, &TerminalDialog::OnCancel);
}

void TerminalDialog::contextMenuEvent(QContextMenuEvent *event) {
    // Window managers give a program no entry into the title-bar menu; this menu stands in.
    QMenu menu(this);
    fillWindowMenu(menu);
    menu.exec(event->globalPos());
}

void TerminalDialog::OnCredits() {
    AboutDialog about(this);
    platform::execDialog(&about);
}

void TerminalDialog::SetControlState(ControlState state) {
    const bool idle = state == ControlState::Idle;
    for (int id : kSettingControls)
        item(id)->setEnabled(idle);
    for (int id : kIdleOnlyButtons)
        item(id)->setEnabled(idle);
    // A scan would take the port from the running transfer.
    item(1041)->setEnabled(idle);
    item(1009)->setEnabled(state == ControlState::Capturing);
    item(1014)->setEnabled(state == ControlState::Sending);
    if (idle) {
        m_animation->stop();
        m_animation->hide();
    } else {
        m_animation->show();
        m_animation->play();
    }
    m_progress->setVisible(state == ControlState::Sending);
}

bool TerminalDialog::StartWorker(void (TerminalDialog::*worker)(std::uint64_t)) {
    const std::uint64_t transfer = ++m_transfer;
    try {
        m_worker = std::thread(worker, this, transfer);
    } catch (const std::system_error &) {
        return false;
    }
    return true;
}

void TerminalDialog::StopAndJoinWorker() {
    m_running = false;
    m_stopMonitor = true;
    // Workers never wait for this thread and look at the flags at least every 50 ms.
    if (m_worker.joinable())
        m_worker.join();
}

void TerminalDialog::shutdownOnSignal() {
    // Ends the running transfer as its own button would, so its file is complete, then
    // leaves as "E&xit" does, saving the settings.
    if (item(1009)->isEnabled())
        OnStopCapture();
    else if (item(1014)->isEnabled())
        OnAbort();
    StopAndJoinWorker();
    m_closing = true;
    OnCancel();
}
