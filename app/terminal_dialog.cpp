#include "app/terminal_dialog.h"

#include "app/about_dialog.h"
#include "app/settings_store.h"
#include "app/terminal_window.h"
#include "app/timing_dialog.h"
#include "capture/capture_naming.h"
#include "hexedit/editor_pane.h"
#include "hexedit/hex_cell_edit.h"
#include "hexedit/hex_cell_edit_accessible.h"
#include "hexedit/hex_list_box.h"
#include "loader/hexline.h"
#include "loader/loader_api.h"
#include "platform/animation_control.h"
#include "platform/dialog_builder.h"
#include "platform/files.h"
#include "platform/ui.h"
#include "res/control_ids.h"
#include "serial/port.h"

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

namespace {

// Controls switched together by the transfer states.
constexpr int kSettingControls[] = {ctl::Port, ctl::DataBits, ctl::StopBits,    ctl::Parity,
                                    ctl::Baud, ctl::Flow,     ctl::CaptureFile, ctl::DropDirectory};
constexpr int kIdleOnlyButtons[] = {ctl::Exit, ctl::Editor, ctl::Save, ctl::Print, ctl::EditorSend,
                                    ctl::New,  ctl::Start,  ctl::Open, ctl::Send,  ctl::SendFile};

QString loaderDirectoryCandidate(int which) {
    const QString dir = QCoreApplication::applicationDirPath();
    return which == 0 ? dir : QDir::cleanPath(dir + QStringLiteral("/../lib/kalvosan"));
}

// The controls of the editor pane's part of the window: everything from its group box down,
// but the marker above which the window is cut when the pane is hidden.
bool inEditorPane(const res::ControlTemplate &c, int paneTop) {
    return c.y >= paneTop && c.id != ctl::PaneMarker;
}

int editorPaneTop(const res::DialogTemplate &dialogTemplate) {
    for (const res::ControlTemplate &c : dialogTemplate.controls) {
        if (c.id == ctl::EditorGroup)
            return c.y;
    }
    return dialogTemplate.height;
}

} // namespace

TerminalDialog::TerminalDialog(QWidget *parent)
    : QDialog(parent), m_startDir(QDir::currentPath()), m_dropDirectory(QDir::homePath()) {
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
    connectSessions();
    UpdateData(false);
}

TerminalDialog::~TerminalDialog() {
    // The terminal window goes first: closing its log calls back into the members below it.
    m_terminalWindow.reset();
    StopAndJoinWorker();
    if (m_hLoader && m_hLoader->isLoaded())
        m_hLoader->unload();
}

void TerminalDialog::createControls() {
    const res::DialogTemplate &dialogTemplate = res::mainDialogTemplate();
    const DialogBuilder builder(dialogTemplate);
    const int paneTop = editorPaneTop(dialogTemplate);
    const QSize size = builder.dialogSize();
    const int paneTopPixels = builder.toPixels(0, paneTop, 0, 0).top();
    m_pane = new EditorPane(this);
    m_pane->setGeometry(0, paneTopPixels, size.width(), size.height() - paneTopPixels);
    m_pane->setStartDirectory(m_startDir);
    m_items = builder.build(
        this,
        [this](const res::ControlTemplate &, QWidget *parent) {
            return m_pane->makeHexList(parent);
        },
        [this, paneTop](const res::ControlTemplate &c) {
            return inEditorPane(c, paneTop) ? m_pane : nullptr;
        });
    m_pane->bindControls(m_items);
    // The reply display keeps its last 1 MiB of text, dropping whole lines from the top, and no
    // undo history: an hour of monitoring a talkative device stays bounded.
    auto *reply = itemAs<QPlainTextEdit>(ctl::InputBuffer);
    reply->setUndoRedoEnabled(false);
    reply->setMaximumBlockCount(kReplyDisplayLines);
}

void TerminalDialog::connectHandlers() {
    const auto onClick = [this](int id, void (TerminalDialog::*handler)()) {
        connect(itemAs<QAbstractButton>(id), &QAbstractButton::clicked, this,
                [this, handler] { (this->*handler)(); });
    };
    onClick(ctl::Start, &TerminalDialog::OnStartCapture);
    onClick(ctl::Stop, &TerminalDialog::OnStopCapture);
    onClick(ctl::Open, &TerminalDialog::OnOpenSendFile);
    onClick(ctl::Send, &TerminalDialog::OnSend);
    onClick(ctl::Abort, &TerminalDialog::OnAbort);
    onClick(ctl::Editor, &TerminalDialog::OnEditor);
    onClick(ctl::EditorSend, &TerminalDialog::OnEditorSend);
    onClick(ctl::RtsOff, &TerminalDialog::OnRtsOff);
    onClick(ctl::RtsOn, &TerminalDialog::OnRtsOn);
    onClick(ctl::Browse, &TerminalDialog::OnBrowseDropDirectory);
    onClick(ctl::Scan, &TerminalDialog::OnScan);
    onClick(ctl::Exit, &TerminalDialog::OnCancel);
    connect(&m_timer, &QTimer::timeout, this, &TerminalDialog::OnTimer);
}

bool TerminalDialog::UpdateData(bool saveAndValidate) {
    auto *delayEdit = itemAs<QLineEdit>(ctl::Delay);
    auto *rs485 = itemAs<QCheckBox>(ctl::Rs485);
    auto *mode = itemAs<QCheckBox>(ctl::Mode);
    const auto combo = [this](int id) { return itemAs<QComboBox>(id); };
    const auto text = [this](int id) { return itemAs<QLineEdit>(id)->text(); };
    if (!saveAndValidate) {
        delayEdit->setText(QString::number(m_sendDelay));
        rs485->setChecked(m_rs485);
        combo(ctl::Baud)->setEditText(m_baudRate);
        combo(ctl::Port)->setEditText(m_portName);
        combo(ctl::DataBits)->setCurrentIndex(m_dataBitsIndex);
        combo(ctl::StopBits)->setCurrentIndex(m_stopBitsIndex);
        combo(ctl::Parity)->setCurrentIndex(m_parityIndex);
        combo(ctl::Flow)->setCurrentIndex(m_flowIndex);
        itemAs<QLineEdit>(ctl::CaptureFile)->setText(m_captureFileName);
        itemAs<QLineEdit>(ctl::DropDirectory)->setText(m_dropDirectory);
        itemAs<QLineEdit>(ctl::SendFile)->setText(m_sendFileName);
        itemAs<QLineEdit>(ctl::FindText)->setText(m_findText);
        mode->setChecked(m_mode2);
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
    m_baudRate = combo(ctl::Baud)->currentText();
    m_portName = combo(ctl::Port)->currentText();
    m_dataBitsIndex = combo(ctl::DataBits)->currentIndex();
    m_stopBitsIndex = combo(ctl::StopBits)->currentIndex();
    m_parityIndex = combo(ctl::Parity)->currentIndex();
    m_flowIndex = combo(ctl::Flow)->currentIndex();
    m_captureFileName = text(ctl::CaptureFile);
    m_dropDirectory = text(ctl::DropDirectory);
    m_sendFileName = text(ctl::SendFile);
    m_findText = text(ctl::FindText);
    m_mode2 = mode->isChecked();
    // A running send takes the delay and the mode at once, as it always has.
    m_send.setDelay(m_sendDelay);
    m_send.setMode2(m_mode2);
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
        const auto start = reinterpret_cast<LoaderStartFn>(library->resolve("Start"));
        const auto stop = reinterpret_cast<LoaderStopFn>(library->resolve("Stop"));
        const auto finish = reinterpret_cast<LoaderFinishFn>(library->resolve("Finish"));
        if (start && stop && finish) {
            m_hLoader = std::move(library);
            // The pane is the library's only caller.
            m_pane->setLoader(start, stop, finish);
            return true;
        }
        library->unload();
    }
    platform::messageBox(this,
                         QStringLiteral("Could not find ") + loaderDirectoryCandidate(0) +
                             QLatin1Char('/') + QLatin1String(kLoaderLibraryName) +
                             QStringLiteral("..Aborting.."),
                         QStringLiteral("Kalvosan"), platform::MessageIcon::Critical);
    return false;
}

void TerminalDialog::collapseToMarker() {
    m_fullHeight = height();
    m_collapsedHeight = item(ctl::PaneMarker)->geometry().top();
    showEditorPane(false);
}

// The closed pane lies below the window's edge. Hidden, its controls are out of the Tab chain
// and reported invisible on the accessibility bus, where they would otherwise be listed as
// showing (a second "Send" among them).
void TerminalDialog::showEditorPane(bool open) {
    m_editorOpen = open;
    m_pane->setVisible(open);
    setWindowHeight(open ? m_fullHeight : m_collapsedHeight);
}

void TerminalDialog::setWindowHeight(int newHeight) {
    setFixedSize(width(), newHeight);
    update();
}

bool TerminalDialog::OnInitDialog() {
    itemAs<QCheckBox>(ctl::Case)->setEnabled(false);
    if (!loadLoaderLibrary())
        return false;
    setWindowIcon(m_hIcon);
    collapseToMarker();
    itemAs<AnimationControl>(ctl::Animation)->open();
    item(ctl::Animation)->hide();
    item(ctl::Stop)->setEnabled(false);
    item(ctl::Abort)->setEnabled(false);
    item(ctl::Progress)->hide();
    SettingsStore::restore(*this);
    m_timer.start(500);
    return true;
}

void TerminalDialog::OnTimer() {
    // While the pane is hidden the indicator keeps its state.
    if (m_editorOpen)
        item(ctl::Overflow)->setVisible(hexList()->count() >= hexline::kLoaderLineLimit);
}

void TerminalDialog::OnOK() {
    // Enter never closes the window.
}

void TerminalDialog::OnCancel() {
    // "E&xit" is disabled while a transfer runs; Esc and the close box are refused likewise.
    if (!item(ctl::Exit)->isEnabled() && !m_closing)
        return;
    // The terminal window goes first, its session and log with it.
    m_terminalWindow.reset();
    StopAndJoinWorker();
    m_timer.stop();
    m_pane->setLoader(nullptr, nullptr, nullptr);
    if (m_hLoader) {
        m_hLoader->unload();
        m_hLoader.reset();
    }
    SettingsStore::save(*this);
    QDialog::done(QDialog::Rejected);
}

void TerminalDialog::reject() {
    OnCancel();
}

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
    QAction *timing = menu.addAction(QStringLiteral("Last send &timing..."), this,
                                     &TerminalDialog::OnLastSendTiming);
    timing->setEnabled(m_lastTiming.has_value());
    menu.addAction(QStringLiteral("Terminal..."), this, &TerminalDialog::OnTerminal);
    QAction *times = menu.addAction(QStringLiteral("Record &arrival times"));
    times->setCheckable(true);
    times->setChecked(m_recordTimes);
    connect(times, &QAction::toggled, this, &TerminalDialog::OnRecordArrivalTimes);
    addProtocolMenu(menu);
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

void TerminalDialog::OnLastSendTiming() {
    if (m_lastTiming) {
        TimingDialog dialog(*m_lastTiming, this);
        platform::execDialog(&dialog);
    }
}

void TerminalDialog::OnTerminal() {
    if (m_terminalWindow && m_terminalWindow->connected()) {
        m_terminalWindow->raise();
        m_terminalWindow->activateWindow();
        return;
    }
    if (!UpdateData(true))
        return;
    TerminalWindowHost host;
    host.releasePort = [this] {
        if (!transferRunning())
            m_hPort.reset();
    };
    host.logTarget = [this] {
        UpdateData(true);
        return TerminalLogTarget{m_dropDirectory, m_captureFileName, m_recordTimes};
    };
    host.logClosed = [this](const QString &name) {
        const QString next = advanceCaptureFileName(name);
        if (next == name)
            return;
        m_captureFileName = next;
        itemAs<QLineEdit>(ctl::CaptureFile)->setText(next);
    };
    m_terminalWindow = std::make_unique<TerminalWindow>(portConfig(serial::PortProfile::Capture),
                                                        std::move(host), this);
    m_terminalWindow->show();
}

void TerminalDialog::OnRecordArrivalTimes(bool on) {
    m_recordTimes = on;
}

void TerminalDialog::SetControlState(ControlState state) {
    const bool idle = state == ControlState::Idle;
    for (int id : kSettingControls)
        item(id)->setEnabled(idle);
    for (int id : kIdleOnlyButtons)
        item(id)->setEnabled(idle);
    // A scan would take the port from the running transfer.
    item(ctl::Scan)->setEnabled(idle);
    item(ctl::Stop)->setEnabled(state == ControlState::Capturing);
    item(ctl::Abort)->setEnabled(state == ControlState::Sending);
    auto *animation = itemAs<AnimationControl>(ctl::Animation);
    if (idle) {
        animation->stop();
        animation->hide();
    } else {
        animation->show();
        animation->play();
    }
    item(ctl::Progress)->setVisible(state == ControlState::Sending);
}

void TerminalDialog::StopAndJoinWorker() {
    // Workers never wait for this thread and look at their flags at least every 50 ms. What
    // they posted and this thread has not yet seen belongs to a transfer that is over.
    m_opener.cancel();
    m_capture.stop();
    m_send.stop();
    m_transfer.stop();
    m_capture.discardPending();
    m_send.discardPending();
    m_transfer.discardPending();
    m_monitoring = false;
    reclaimPort();
}

void TerminalDialog::shutdownOnSignal() {
    // Ends the running transfer as its own button would, so its file is complete, then
    // leaves as "E&xit" does, saving the settings. An open in progress ends without a word:
    // nothing was transferred.
    if (m_opener.pending()) {
        m_opener.cancel();
        SetControlState(ControlState::Idle);
    } else if (item(ctl::Stop)->isEnabled())
        OnStopCapture();
    else if (item(ctl::Abort)->isEnabled())
        OnAbort();
    StopAndJoinWorker();
    m_closing = true;
    OnCancel();
}

// --- the editor pane ----------------------------------------------------------------------

HexListBox *TerminalDialog::hexList() const {
    return m_pane->hexList();
}
HexCellEdit *TerminalDialog::cellEdit() const {
    return m_pane->cellEdit();
}

// "&Editor": switches between the window with and without the editor pane.
void TerminalDialog::OnEditor() {
    CloseCellEdit();
    showEditorPane(!m_editorOpen);
}

void TerminalDialog::OnNew() {
    m_pane->OnNew();
}
void TerminalDialog::BeginCellEdit() {
    m_pane->BeginCellEdit();
}
void TerminalDialog::CloseCellEdit() {
    m_pane->CloseCellEdit();
}
void TerminalDialog::ShowFoundAt(int line, int cell) {
    m_pane->ShowFoundAt(line, cell);
}
void TerminalDialog::OnFind() {
    m_pane->OnFind();
}
void TerminalDialog::OnSave() {
    m_pane->OnSave();
}
void TerminalDialog::OnPrint() {
    m_pane->OnPrint();
}
