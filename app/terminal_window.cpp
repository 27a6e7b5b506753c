#include "app/terminal_window.h"

#include "platform/stored_settings.h"
#include "platform/ui.h"
#include "serial/network_address.h"
#include "transmit/send_bytes.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>

namespace {

// A device that floods the view is shown this much at a time, and this much behind at most.
constexpr qint64 kBytesPerUpdate = 256 * 1024;
constexpr qint64 kPendingBound = 4 * 1024 * 1024;

struct LineEndChoice {
    const char *name;
    std::optional<term::LineEnd> end;
};
const LineEndChoice kLineEnds[] = {{"None", std::nullopt},
                                   {"CR", term::LineEnd::Cr},
                                   {"LF", term::LineEnd::Lf},
                                   {"CR LF", term::LineEnd::CrLf}};
const char *const kStampNames[] = {"No time stamps", "Wall clock", "Since the start",
                                   "Since the previous line"};

term::ViewSettings windowView() {
    term::ViewSettings view;
    // Every line end the device sends is a line of the view.
    view.mapIn = term::LineEnd::Lf;
    return view;
}

template <class Control> Control *named(Control *control, const QString &name) {
    control->setAccessibleName(name);
    return control;
}

} // namespace

TerminalWindow::TerminalWindow(const serial::PortConfig &config, TerminalWindowHost host,
                               QWidget *parent)
    : QWidget(parent, Qt::Window), m_config(config), m_host(std::move(host)),
      m_screen(windowView(), arrival::WallClock::now()), m_pending(kPendingBound) {
    setWindowTitle(QStringLiteral("Kalvosan Terminal - ") + config.portName);
    setAccessibleName(windowTitle());
    createControls();
    connectSession();
    m_history = platform::StoredSettings().texts(platform::stored::TerminalHistory, kHistoryLines);
    m_historyAt = int(m_history.size());
    m_updates.setInterval(kUpdateMs);
    connect(&m_updates, &QTimer::timeout, this, &TerminalWindow::showPending);
    setConnectedState(false);
    resize(720, 480);
}

TerminalWindow::~TerminalWindow() {
    disconnectPort();
}

void TerminalWindow::createControls() {
    m_view = named(new QPlainTextEdit(this), QStringLiteral("Received"));
    m_view->setReadOnly(true);
    m_view->setUndoRedoEnabled(false);
    m_view->setMaximumBlockCount(kViewLines);
    m_view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_view->setLineWrapMode(QPlainTextEdit::NoWrap);

    m_connect = named(new QPushButton(QStringLiteral("&Connect"), this), QStringLiteral("Connect"));
    auto *clear = named(new QPushButton(QStringLiteral("C&lear"), this), QStringLiteral("Clear"));
    m_dtr = named(new QPushButton(QStringLiteral("&DTR"), this), QStringLiteral("DTR"));
    m_rts = named(new QPushButton(QStringLiteral("&RTS"), this), QStringLiteral("RTS"));
    m_break = named(new QPushButton(QStringLiteral("&Break"), this), QStringLiteral("Break"));
    m_log = named(new QPushButton(QStringLiteral("L&og"), this), QStringLiteral("Log"));
    for (QPushButton *toggle : {m_dtr, m_rts, m_log})
        toggle->setCheckable(true);
    m_hexView = named(new QCheckBox(QStringLiteral("He&x view"), this), QStringLiteral("Hex view"));
    m_stamps = named(new QComboBox(this), QStringLiteral("Time stamps"));
    for (const char *name : kStampNames)
        m_stamps->addItem(QLatin1String(name));

    m_input = named(new QLineEdit(this), QStringLiteral("Send line"));
    m_input->installEventFilter(this);
    m_lineEnd = named(new QComboBox(this), QStringLiteral("Line ending"));
    for (const LineEndChoice &choice : kLineEnds)
        m_lineEnd->addItem(QLatin1String(choice.name));
    m_lineEnd->setCurrentIndex(1);
    m_hexInput = named(new QCheckBox(QStringLiteral("&Hex"), this), QStringLiteral("Hex"));

    auto *buttons = new QHBoxLayout;
    for (QWidget *w : std::initializer_list<QWidget *>{m_connect, clear, m_dtr, m_rts, m_break,
                                                       m_log, m_hexView, m_stamps})
        buttons->addWidget(w);
    buttons->addStretch();
    auto *line = new QHBoxLayout;
    line->addWidget(m_input, 1);
    line->addWidget(m_lineEnd);
    line->addWidget(m_hexInput);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(m_view, 1);
    layout->addLayout(line);

    connect(m_connect, &QPushButton::clicked, this, &TerminalWindow::OnConnect);
    connect(clear, &QPushButton::clicked, m_view, &QPlainTextEdit::clear);
    connect(m_input, &QLineEdit::returnPressed, this, &TerminalWindow::OnSendLine);
    connect(m_log, &QPushButton::clicked, this, &TerminalWindow::OnLog);
    connect(m_dtr, &QPushButton::clicked, this, [this](bool on) {
        m_session.sendCommand(on ? term::PortCommand::DtrOn : term::PortCommand::DtrOff);
    });
    connect(m_rts, &QPushButton::clicked, this, [this](bool on) {
        m_session.sendCommand(on ? term::PortCommand::RtsOn : term::PortCommand::RtsOff);
    });
    connect(m_break, &QPushButton::clicked, this,
            [this] { m_session.sendCommand(term::PortCommand::BreakSignal); });
    connect(m_hexView, &QCheckBox::toggled, this,
            [this](bool on) { appendText(QString::fromLatin1(m_screen.setHex(on))); });
    connect(m_stamps, &QComboBox::currentIndexChanged, this, [this](int index) {
        appendText(QString::fromLatin1(m_screen.setStamps(term::Stamps(index))));
    });
}

void TerminalWindow::connectSession() {
    connect(&m_session, &term::TerminalSession::waiting, this,
            [this](const QString &port) { note(QStringLiteral("Waiting for %1...").arg(port)); });
    connect(&m_session, &term::TerminalSession::reconnected, this, [this] {
        // The port opened anew has the lines of the settings, not those last asked for.
        m_dtr->setChecked(m_session.dtr());
        m_rts->setChecked(m_session.rts());
        note(m_config.portName + QStringLiteral(" is back"));
    });
    connect(&m_session, &term::TerminalSession::failed, this, [this](const QString &message) {
        disconnectPort();
        platform::messageBox(this, message);
    });
    connect(&m_session, &term::TerminalSession::commandDone, this,
            [this](const term::CommandDone &done) {
                if (done.done)
                    return;
                note(done.command == term::PortCommand::BreakSignal
                         ? QStringLiteral("The port cannot send a break")
                         : QStringLiteral("The port has no modem lines"));
            });
}

// "Connect" / "Disconnect".
void TerminalWindow::OnConnect() {
    if (connected()) {
        disconnectPort();
        return;
    }
    if (m_host.releasePort)
        m_host.releasePort();
    if (serial::isNetworkName(m_config.portName)) {
        // A network port opens off this thread; "Disconnect" ends the open meanwhile.
        if (m_opener.start(m_config, [this](serial::OpenedPort o) { onOpened(std::move(o)); }))
            setConnectedState(true);
        return;
    }
    onOpened(serial::openPort(m_config));
}

void TerminalWindow::onOpened(serial::OpenedPort opened) {
    if (!opened) {
        setConnectedState(false);
        platform::messageBox(this, opened.error + QStringLiteral(": ") + opened.reason);
        return;
    }
    m_pending.clear();
    term::TerminalOptions options{m_config, nullptr, QStringLiteral("the view")};
    options.screen = [this](const CapturedBurst &burst, const std::atomic<bool> &) -> qint64 {
        m_pending.push(burst);
        return burst.size;
    };
    if (!m_session.start(std::move(opened.port), options)) {
        // A network port's open showed "Disconnect" while it went on.
        setConnectedState(false);
        platform::messageBox(this, QStringLiteral("Could not start the terminal"));
        return;
    }
    setConnectedState(true);
    note(QStringLiteral("Connected to ") + m_config.portName);
}

void TerminalWindow::disconnectPort() {
    m_opener.cancel();
    if (m_session.logging())
        OnLog();
    const bool wasRunning = m_session.running();
    m_session.stop();
    showPending();
    if (wasRunning)
        note(QStringLiteral("Disconnected"));
    setConnectedState(false);
}

void TerminalWindow::setConnectedState(bool on) {
    m_connect->setText(on ? QStringLiteral("Dis&connect") : QStringLiteral("&Connect"));
    m_connect->setAccessibleName(on ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
    for (QPushButton *button : {m_dtr, m_rts, m_break, m_log})
        button->setEnabled(on);
    m_dtr->setChecked(on && m_session.dtr());
    m_rts->setChecked(on && m_session.rts());
    m_log->setChecked(m_session.logging());
    if (on)
        m_updates.start();
    else
        m_updates.stop();
}

// The bursts gathered since the last update, shown at once: a flood costs the window one
// update per period, not one per burst.
void TerminalWindow::showPending() {
    qint64 dropped = 0;
    const std::vector<term::HeldBurst> bursts = m_pending.take(kBytesPerUpdate, dropped);
    QString text;
    if (dropped > 0)
        text += QString::fromLatin1(m_screen.endLine()) +
                QStringLiteral("[kalvosan] %1 bytes not shown\n").arg(dropped);
    for (const term::HeldBurst &burst : bursts) {
        const QByteArray shown =
            m_screen.render(burst.bytes.constData(), burst.bytes.size(), burst.when);
        text += m_screen.settings().hex ? QString::fromLatin1(shown) : m_decoder.decode(shown);
    }
    appendText(text);
}

void TerminalWindow::appendText(const QString &text) {
    if (text.isEmpty())
        return;
    QScrollBar *scroll = m_view->verticalScrollBar();
    const bool atEnd = scroll->value() == scroll->maximum();
    QTextCursor cursor(m_view->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    // A user reading further up is not pulled down.
    if (atEnd)
        scroll->setValue(scroll->maximum());
}

// The window's own words, on a line of their own between the device's.
void TerminalWindow::note(const QString &text) {
    appendText(QString::fromLatin1(m_screen.endLine()) + QStringLiteral("[kalvosan] ") + text +
               u'\n');
}

void TerminalWindow::OnSendLine() {
    const QString line = m_input->text();
    std::optional<QByteArray> bytes = m_hexInput->isChecked()
                                          ? transmit::bytesFromHex(line)
                                          : transmit::bytesFromEscapedText(line);
    if (!bytes) {
        note(QStringLiteral("Not sent: ") + line +
             (m_hexInput->isChecked()
                  ? QStringLiteral(" (pairs of hex digits, with or without blanks and 0x)")
                  : QStringLiteral(" (characters and the escapes \\r \\n \\t \\\\ \\xHH)")));
        return;
    }
    if (const auto end = kLineEnds[std::max(0, m_lineEnd->currentIndex())].end)
        *bytes += term::lineEndBytes(*end);
    if (!m_session.running()) {
        note(QStringLiteral("Not sent: not connected"));
        return;
    }
    if (m_session.send(bytes->constData(), bytes->size()) < bytes->size())
        note(m_session.away() ? QStringLiteral("Not sent: the device is away")
                              : QStringLiteral("Not all sent: the device takes no more"));
    rememberLine(line);
    m_input->clear();
}

void TerminalWindow::rememberLine(const QString &line) {
    if (!line.isEmpty() && (m_history.isEmpty() || m_history.back() != line))
        m_history.append(line);
    while (m_history.size() > kHistoryLines)
        m_history.removeFirst();
    m_historyAt = int(m_history.size());
    platform::StoredSettings settings;
    if (settings.writable()) {
        settings.setTexts(platform::stored::TerminalHistory, m_history);
        settings.sync();
    }
}

void TerminalWindow::recall(int step) {
    const int at = std::clamp(m_historyAt + step, 0, int(m_history.size()));
    m_historyAt = at;
    m_input->setText(at < m_history.size() ? m_history.at(at) : QString());
}

bool TerminalWindow::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_input && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            recall(key == Qt::Key_Up ? -1 : 1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// "Log": the device's bytes into a capture file of the main window's numbering, exactly.
void TerminalWindow::OnLog() {
    if (m_session.logging()) {
        const QString path = m_session.logPath();
        const qint64 logged = m_session.closeLog();
        note(QStringLiteral("Log %1 closed: %2 bytes").arg(path).arg(logged));
        if (m_host.logClosed)
            m_host.logClosed(m_logName);
        m_log->setChecked(false);
        return;
    }
    const TerminalLogTarget target = m_host.logTarget ? m_host.logTarget() : TerminalLogTarget{};
    m_logName = target.name;
    const QString error =
        m_session.openNumberedLog(target.directory, m_logName, false, target.arrivalTimes);
    m_log->setChecked(m_session.logging());
    if (!error.isEmpty())
        platform::messageBox(this, error);
    else
        note(QStringLiteral("Logging to ") + m_session.logPath());
}

void TerminalWindow::closeEvent(QCloseEvent *event) {
    disconnectPort();
    QWidget::closeEvent(event);
}
