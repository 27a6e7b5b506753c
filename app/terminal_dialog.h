// The terminal's one window: port settings, capture ("Input"), send ("Output") and the hex
// editor pane. It owns the capture and send sessions and the editor pane, keeps the control
// states and the data exchange, and routes each control to its handler.
#pragma once

#include "app/port_opener.h"
#include "capture/capture_session.h"
#include "protocols/transfer_session.h"
#include "serial/port_config.h"
#include "transmit/reply_text.h"
#include "transmit/send_session.h"

#include <QDialog>
#include <QHash>
#include <QIcon>
#include <QString>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

class QLibrary;
class QMenu;
class TerminalWindow;
class EditorPane;
class HexListBox;
class HexCellEdit;
namespace serial {
class Port;
}
class TerminalDialog;
namespace SettingsStore {
void restore(TerminalDialog &dialog);
void save(TerminalDialog &dialog);
} // namespace SettingsStore

// "Kalvosan - Bytes received: N", the title of a capture and of a protocol's receive.
QString receivedTitle(qint64 count);

// The control states of the window (which controls are enabled, shown, playing).
enum class ControlState { Idle, Capturing, Sending };

class TerminalDialog : public QDialog {
    Q_OBJECT
public:
    explicit TerminalDialog(QWidget *parent = nullptr);
    ~TerminalDialog() override;

    // Start-up: loads the loader library, collapses the window, restores the settings and
    // starts the timer. False when the library is missing (the message has been shown).
    bool OnInitDialog();

    // The control with the given template id (res/control_ids.h).
    QWidget *item(int id) const { return m_items.value(id); }
    template <class T> T *itemAs(int id) const { return qobject_cast<T *>(item(id)); }

    // Dialog data exchange: true reads the controls into the members (and stops at the first
    // field that fails validation, returning false), false writes the members into them.
    bool UpdateData(bool saveAndValidate = true);

    void SetControlState(ControlState state);

    // --- handlers ---------------------------------------------------------------------
    void OnTimer();
    void OnOK();
    void OnCancel();
    void OnCredits();
    // "Last send &timing...": the report of the last send byte by byte.
    void OnLastSendTiming();
    // "Terminal...": the terminal window on the port and line settings shown; raised when it
    // is open and connected.
    void OnTerminal();
    TerminalWindow *terminalWindow() const { return m_terminalWindow.get(); }
    // "Record &arrival times": switches the times file of the next captures on or off.
    void OnRecordArrivalTimes(bool on);
    // The window menu of the dialog's background: "&Credits", a separator, Minimize, Close.
    void fillWindowMenu(QMenu &menu);
    // "Transfer protocol": None (plain bytes), or the protocol Send and Start transfer with.
    void OnTransferProtocol(std::optional<protocols::Protocol> protocol);
    // Capture
    void OnStartCapture();
    void OnStopCapture();
    void AdvanceCaptureFileName();
    // Send
    void OnOpenSendFile();
    void OnSend();
    void OnAbort();
    void OnEditorSend();
    void OnBrowseDropDirectory();
    // Port
    void OnRtsOff();
    void OnRtsOn();
    void OnScan();
    // Editor pane (the pane does the work)
    void OnEditor();
    void OnNew();
    void BeginCellEdit();
    void CloseCellEdit();
    void ShowFoundAt(int line, int cell);
    void OnFind();
    void OnSave();
    void OnPrint();

    // Ends a running transfer and waits until its worker has released the port and the
    // file (used before a new transfer, at exit and on SIGINT/SIGTERM).
    void StopAndJoinWorker();
    bool transferRunning() const {
        return m_capture.busy() || m_send.busy() || m_transfer.busy() || m_opener.pending();
    }
    // A network port of the next transfer is being opened (off this thread).
    bool openingPort() const { return m_opener.pending(); }
    // SIGINT/SIGTERM: stops a running transfer, waits for it, saves the settings, closes.
    void shutdownOnSignal();

    // --- what the window shows and holds, for its users and tests ----------------------
    EditorPane *editorPane() const { return m_pane; }
    HexListBox *hexList() const;
    HexCellEdit *cellEdit() const;
    bool editorOpen() const { return m_editorOpen; }
    int fullHeight() const { return m_fullHeight; }
    int collapsedHeight() const { return m_collapsedHeight; }
    // The members the last data exchange read.
    const QString &portName() const { return m_portName; }
    int sendDelay() const { return m_sendDelay; }
    const QString &sendFileName() const { return m_sendFileName; }
    bool recordsArrivalTimes() const { return m_recordTimes; }
    const std::optional<protocols::Protocol> &transferProtocol() const { return m_protocol; }
    const std::optional<transmit::TimingReport> &lastSendTiming() const { return m_lastTiming; }
    // An editor send that is to end in the reply monitor, until its session ends.
    bool replyMonitor() const { return m_replyMonitor; }
    // The reply monitor runs, as far as the window has heard: everything the send reported
    // before it began has been shown.
    bool monitoring() const { return m_monitoring; }
    // The port the last transfer left open (none while a transfer holds it).
    const serial::Port *heldPort() const { return m_hPort.get(); }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void accept() override { OnOK(); }
    void reject() override;

private:
    friend void SettingsStore::restore(TerminalDialog &dialog);
    friend void SettingsStore::save(TerminalDialog &dialog);

    void createControls();
    void connectHandlers();
    void connectSessions();
    bool loadLoaderLibrary();
    void collapseToMarker();
    void showEditorPane(bool open);
    void setWindowHeight(int height);

    // Closes the port the previous transfer left open, lets the driver release it, and opens
    // the port of the members with the profile; null after the message was shown.
    std::unique_ptr<serial::Port> OpenSerialPort(serial::PortProfile profile);
    // What every open leads to: the write time-out of a send, the RS485 notice; null after the
    // message of a failed open was shown.
    std::unique_ptr<serial::Port> acceptOpened(serial::OpenedPort opened,
                                               serial::PortProfile profile);
    // A network port opens off this thread and the transfer goes on when it is open; Stop,
    // Abort and Exit cancel it meanwhile. False when the open could not even start.
    bool beginNetworkOpen(serial::PortProfile profile);
    void onNetworkOpened(serial::OpenedPort opened, serial::PortProfile profile);
    // Ends an open in progress: the window is Idle and says the port did not open.
    void cancelNetworkOpen();
    void startCapture(std::unique_ptr<serial::Port> port);
    void startSend(std::unique_ptr<serial::Port> port);
    serial::PortConfig portConfig(serial::PortProfile profile) const;
    // Takes the ports of ended sessions back into m_hPort.
    void reclaimPort();
    void onCaptureWriteFailed(const QString &path);
    void onSendFinished(const transmit::SendResult &result);
    void onReply(const QByteArray &bytes);
    // A protocol transfer: Send sends the send file with it, Start receives into the drop
    // directory; the end is told in a message box.
    void connectProtocolTransfer();
    void addProtocolMenu(QMenu &menu);
    void beginProtocolTransfer(protocols::Direction direction);
    void startProtocolTransfer(std::unique_ptr<serial::Port> port, protocols::Direction direction);
    void onProtocolFinished(const protocols::TransferResult &result);

    QHash<int, QWidget *> m_items;
    EditorPane *m_pane = nullptr;
    CaptureSession m_capture;
    SendSession m_send;
    TransferSession m_transfer;
    PortOpener m_opener;
    ReplyText m_replyText;
    std::unique_ptr<QLibrary> m_hLoader;
    std::unique_ptr<TerminalWindow> m_terminalWindow;
    QTimer m_timer;
    bool m_closing = false;

    // The settings record, read from the controls by the data exchange.
    QString m_startDir;
    QString m_captureFileName = QStringLiteral("data000000.bin");
    QString m_dropDirectory;
    QString m_sendFileName;
    QString m_findText;
    int m_sendDelay = -1;
    bool m_rs485 = false;
    QString m_baudRate = QStringLiteral("9600");
    QString m_portName = QStringLiteral("COM3");
    int m_dataBitsIndex = 4;
    int m_stopBitsIndex = 0;
    int m_parityIndex = 2;
    int m_flowIndex = 2;
    bool m_mode2 = false;

    std::unique_ptr<serial::Port> m_hPort;
    bool m_editorOpen = false;
    bool m_replyMonitor = false;
    bool m_monitoring = false;
    // Captures also write "<capture>.times" (the background menu's "Record &arrival times").
    bool m_recordTimes = false;
    // The background menu's "Transfer protocol" (none: plain bytes), and the direction of a
    // protocol transfer whose network port is being opened.
    std::optional<protocols::Protocol> m_protocol;
    std::optional<protocols::Direction> m_protocolPending;
    protocols::Direction m_protocolDirection = protocols::Direction::Send;
    // The report of the last send byte by byte ("Last send &timing...").
    std::optional<transmit::TimingReport> m_lastTiming;
    // Milliseconds a send may take per byte (0: no write time-out), from the send profile.
    std::uint32_t m_writeMultiplier = 0;
    int m_fullHeight = 0;
    int m_collapsedHeight = 0;
    QIcon m_hIcon;
};
