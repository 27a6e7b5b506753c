// "Kalvosan Terminal - <port>": a window of its own on the main window's port and line
// settings, to type to the device and read what it answers. It owns a terminal session and
// holds the port while connected, as a capture does.
#pragma once

#include "app/port_opener.h"
#include "serial/port_config.h"
#include "term/burst_queue.h"
#include "term/screen_view.h"
#include "term/terminal_session.h"

#include <QStringDecoder>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// Where the log goes: the main window's drop directory and capture file numbering.
struct TerminalLogTarget {
    QString directory;
    QString name;
    bool arrivalTimes = false;
};

struct TerminalWindowHost {
    // Lets the port go that the main window's last transfer left open.
    std::function<void()> releasePort;
    std::function<TerminalLogTarget()> logTarget;
    // A log under this name has closed: the numbering goes on after it.
    std::function<void(const QString &name)> logClosed;
};

class TerminalWindow : public QWidget {
    Q_OBJECT
public:
    // The view keeps this many lines, the oldest going; it is brought up to date this often.
    static constexpr int kViewLines = 10000;
    static constexpr int kUpdateMs = 50;
    static constexpr int kHistoryLines = 100;

    TerminalWindow(const serial::PortConfig &config, TerminalWindowHost host,
                   QWidget *parent = nullptr);
    ~TerminalWindow() override;

    bool connected() const { return m_session.running() || m_opener.pending(); }
    // The controls, by their accessible names, for tests and screen readers alike.
    QPlainTextEdit *view() const { return m_view; }
    QLineEdit *input() const { return m_input; }

    void OnConnect();
    void OnSendLine();
    void OnLog();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createControls();
    void connectSession();
    void onOpened(serial::OpenedPort opened);
    void disconnectPort();
    void setConnectedState(bool connected);
    void showPending();
    void note(const QString &text);
    void appendText(const QString &text);
    void rememberLine(const QString &line);
    void recall(int step);

    serial::PortConfig m_config;
    TerminalWindowHost m_host;
    QPlainTextEdit *m_view = nullptr;
    QLineEdit *m_input = nullptr;
    QComboBox *m_lineEnd = nullptr;
    QCheckBox *m_hexInput = nullptr;
    QCheckBox *m_hexView = nullptr;
    QComboBox *m_stamps = nullptr;
    QPushButton *m_connect = nullptr;
    QPushButton *m_dtr = nullptr;
    QPushButton *m_rts = nullptr;
    QPushButton *m_break = nullptr;
    QPushButton *m_log = nullptr;
    QStringList m_history;
    int m_historyAt = 0;
    QString m_logName;
    term::ScreenView m_screen;
    QStringDecoder m_decoder{QStringDecoder::Utf8};
    QTimer m_updates;
    term::BurstQueue m_pending;
    PortOpener m_opener;
    // Declared last: its worker, which fills m_pending, is joined first.
    term::TerminalSession m_session;
};
