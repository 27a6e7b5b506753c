// The terminal's one window: port settings, capture ("Input"), send ("Output") and the hex
// editor pane. It owns all terminal state; the handlers of each activity are defined in the
// folder of that activity (capture/, transmit/, hexedit/, serial/).
#pragma once

#include "loader/loader_api.h"
#include "transmit/send_logic.h"

#include <QDialog>
#include <QFile>
#include <QFont>
#include <QHash>
#include <QIcon>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

class QComboBox;
class QLabel;
class QLibrary;
class QMenu;
class QProgressBar;
class AnimationControl;
class HexListBox;
class HexCellEdit;
namespace serial {
class SerialPort;
}

// The control states of the window (which controls are enabled, shown, playing).
enum class ControlState { Idle, Capturing, Sending };

// Profiles with which a transfer opens the port.
enum class PortProfile { Capture, Send };

class TerminalDialog : public QDialog {
    Q_OBJECT
public:
    explicit TerminalDialog(QWidget *parent = nullptr);
    ~TerminalDialog() override;

    // Start-up: loads the loader library, collapses the window, restores the settings and
    // starts the timer. False when the library is missing (the message has been shown).
    bool OnInitDialog();

    // The control with the given template id.
    QWidget *item(int id) const { return m_items.value(id); }
    template <class T> T *itemAs(int id) const { return qobject_cast<T *>(item(id)); }

    // Dialog data exchange: true reads the controls into the members (and stops at the first
    // field that fails validation, returning false), false writes the members into them.
    bool UpdateData(bool saveAndValidate = true);

    void SetControlState(ControlState state);

    // --- handlers (command ids in brackets) -------------------------------------------
    void OnTimer();
    void OnOK();
    void OnCancel();
    void OnCredits();
    // The window menu of the dialog's background: "&Credits", a separator, Minimize, Close.
    void fillWindowMenu(QMenu &menu);
    // capture/
    void OnStartCapture();  // 1008
    void OnStopCapture();   // 1009
    void AdvanceCaptureFileName();
    // transmit/
    void OnOpenSendFile();  // 1011
    void OnSend();          // 1013
    void OnAbort();         // 1014
    void OnEditorSend();    // 1022
    void OnBrowseDropDirectory(); // 1056
    // serial/
    bool OpenSerialPort(PortProfile profile);
    void OnRtsOff(); // 1051
    void OnRtsOn();  // 1052
    void OnScan();   // 1041
    // hexedit/
    void OnEditor();  // 1016
    void OnNew();     // 1023
    void BeginCellEdit();
    void CloseCellEdit();
    void ShowFoundAt(int line, int cell);
    void OnFindTextChange(); // EN_CHANGE of 1019
    void OnAsciiCheck();     // 1025
    void OnFind();           // 1018
    void OnSave();           // 1020
    void OnPrint();          // 1021

    // Ends a running transfer and waits until its worker has released the port and the
    // file (used before a new transfer, at exit and on SIGINT/SIGTERM).
    void StopAndJoinWorker();
    // Begins a new transfer's worker; false (and no worker) when no thread could be had.
    bool StartWorker(void (TerminalDialog::*worker)(std::uint64_t transfer));
    bool transferRunning() const { return m_worker.joinable(); }
    // SIGINT/SIGTERM: stops a running transfer, waits for it, saves the settings, closes.
    void shutdownOnSignal();

    // --- members ---------------------------------------------------------------------
    HexListBox *m_hexList = nullptr;
    QString m_startDir;
    QString m_captureFileName = QStringLiteral("data000000.bin");
    QString m_dropDirectory;
    QString m_sendFileName;
    std::unique_ptr<serial::SerialPort> m_hPort;
    QFile m_captureFile;
    // The path of m_captureFile, set before the worker starts and left alone while it runs.
    QString m_transferPath;
    bool m_editorOpen = false;
    QFont m_font;
    std::atomic<bool> m_writePending{false};
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stopMonitor{true};
    std::atomic<bool> m_replyMonitor{false};
    std::unique_ptr<QLibrary> m_hLoader;
    LoaderStartFn m_pfnStart = nullptr;
    LoaderStopFn m_pfnStop = nullptr;
    LoaderFinishFn m_pfnFinish = nullptr;
    QString m_findText;
    QString m_acceptedFindText;
    int m_findLine = -1;
    std::uint8_t m_findPos = 0;
    QPointer<HexCellEdit> m_cellEdit;
    int m_fullHeight = 0;
    int m_collapsedHeight = 0;
    QComboBox *m_portCombo = nullptr;
    QComboBox *m_dataBitsCombo = nullptr;
    QComboBox *m_stopBitsCombo = nullptr;
    QComboBox *m_parityCombo = nullptr;
    QComboBox *m_baudCombo = nullptr;
    QComboBox *m_flowCombo = nullptr;
    AnimationControl *m_animation = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_overflowIcon = nullptr;
    std::atomic<int> m_sendDelay{-1};
    bool m_rs485 = false;
    QString m_baudRate = QStringLiteral("9600");
    QString m_portName = QStringLiteral("COM3");
    int m_dataBitsIndex = 4;
    int m_stopBitsIndex = 0;
    int m_parityIndex = 2;
    int m_flowIndex = 2;
    std::atomic<bool> m_mode2{false};
    QIcon m_hIcon;
    // Milliseconds a send may take per byte (0: no write time-out); set by OpenSerialPort with
    // the send profile before the send worker starts.
    std::uint32_t m_writeMultiplier = 0;

    // The one worker of the running transfer (ReceiveWorker, or SendWorker followed by
    // ReplyMonitor). Handlers join it before a new transfer takes the port and the file.
    std::thread m_worker;
    // Numbers the transfers; a queued call of a worker that belongs to an earlier transfer
    // is dropped, so that it cannot touch the controls of the next one.
    std::atomic<std::uint64_t> m_transfer{0};

    // Runs f on the UI thread, unless a newer transfer has begun by then.
    template <class F> void postToUi(std::uint64_t transfer, F &&f) {
        QMetaObject::invokeMethod(
            this,
            [this, transfer, f = std::forward<F>(f)]() mutable {
                if (transfer == m_transfer.load())
                    f();
            },
            Qt::QueuedConnection);
    }

    // Capture and send workers and their steps.
    void ReceiveWorker(std::uint64_t transfer);
    std::int64_t ReadAvailable(char *buffer, std::int64_t capacity);
    void SendWorker(std::uint64_t transfer);
    transmit::ChunkResult WriteFully(const char *data, std::uint32_t count);
    transmit::ChunkResult WriteOnce(const char *data, std::uint32_t count);
    transmit::ChunkResult SendChunkDelayed(const char *data, std::uint32_t count);
    void ReplyMonitor(std::uint64_t transfer);

    // Whole-window rectangle (frame included) helpers for the pane heights.
    void setWindowHeight(int height);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void accept() override { OnOK(); }
    void reject() override;

private:
    void createControls();
    void connectHandlers();
    bool loadLoaderLibrary();
    void collapseToMarker();

    QHash<int, QWidget *> m_items;
    QTimer m_timer;
    bool m_closing = false;
};
