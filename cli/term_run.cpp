#include "cli/term_run.h"

#include "capture/capture_naming.h"
#include "cli/stored.h"
#include "platform/files.h"
#include "platform/streams.h"
#include "transmit/send_bytes.h"
#include "transmit/send_logic.h"

#include <QSocketNotifier>

#include <algorithm>
#include <chrono>
#include <unistd.h>

namespace cli {

namespace {

constexpr qint64 kReadChunk = 4096;
constexpr int kRetryMs = 10;
constexpr int kIdleCheckMs = 20;
constexpr char kBackspace = 0x08;
constexpr char kDelete = 0x7f;

// The main thread's writes to the screen never wait for room.
const std::atomic<bool> kNoWait{false};

} // namespace

TermRun::TermRun(TermRequest request) : m_request(std::move(request)) {
    m_echo = m_request.echo;
    m_hex = m_request.view.hex;
    m_wantHex = m_hex;
    m_wantStamps = int(m_request.view.stamps);
    m_eolOut = m_request.eolOut.value_or(term::LineEnd::Cr);
    QObject::connect(&m_termination, &platform::TerminationWatch::requested, &m_loop,
                     [this] { quit(kExitSuccess); });
    m_retry.setSingleShot(true);
    QObject::connect(&m_retry, &QTimer::timeout, &m_loop, [this] { flushUnsent(); });
    QObject::connect(&m_idleCheck, &QTimer::timeout, &m_loop, [this] { checkIdle(); });
    connectSession();
}

TermRun::~TermRun() = default;

void TermRun::connectSession() {
    QObject::connect(&m_session, &term::TerminalSession::waiting, &m_loop, [](const QString &port) {
        printNote(QStringLiteral("Waiting for %1...").arg(port));
    });
    QObject::connect(&m_session, &term::TerminalSession::reconnected, &m_loop, [this] {
        const QString port = m_request.port.portName;
        printNote(m_connected ? port + QStringLiteral(" is back")
                              : QStringLiteral("Connected to ") + port);
        m_connected = true;
    });
    QObject::connect(&m_session, &term::TerminalSession::keysRefused, &m_loop, [](qint64) {
        printWarning(QStringLiteral("not sent: the device takes no more"));
    });
    QObject::connect(&m_session, &term::TerminalSession::commandDone, &m_loop,
                     [this](const term::CommandDone &done) { onCommandDone(done); });
    QObject::connect(
        &m_session, &term::TerminalSession::failed, &m_loop, [this](const QString &message) {
            if (const int error = m_screenError.load())
                printError(message + QStringLiteral(": ") + platform::errorText(error));
            else
                printError(message);
            quit(kExitFailure);
        });
}

int TermRun::run() {
    if (const QString error = start(); !error.isEmpty()) {
        printError(error);
        return kExitFailure;
    }
    m_loop.exec();
    finish();
    return m_exitCode;
}

QString TermRun::start() {
    setMessageStyle(QStringLiteral("[kalvosan] "), "\n");
    const QString portName = m_request.port.portName;
    serial::OpenedPort opened = serial::openPort(m_request.port, &platform::untilTerminated());
    if (!opened && !platform::untilTerminated().load())
        return {};
    if (!opened && m_request.wait) {
        QString note = QStringLiteral("Waiting for %1...").arg(portName);
        if (opened.reason != platform::errorText(ENOENT))
            note += QStringLiteral(" (%1)").arg(opened.reason);
        printNote(note);
    } else if (QString error = reportOpen(opened.error, opened, m_request.modemLinesGiven);
               !error.isEmpty()) {
        return error;
    }
    m_connected = opened.port != nullptr;
    if (m_request.log) {
        toggleLog();
        if (!m_session.logging())
            return QStringLiteral("The log could not be opened");
    }
    m_interactive = m_raw.enter(STDIN_FILENO);
    const bool rawScreen = m_interactive && platform::isTerminal(STDOUT_FILENO);
    m_request.view.newline = rawScreen ? "\r\n" : "\n";
    if (rawScreen)
        m_screenFd = platform::reopenNonBlocking(STDOUT_FILENO);
    setMessageStyle(QStringLiteral("[kalvosan] "),
                    m_interactive && platform::isTerminal(STDERR_FILENO) ? "\r\n" : "\n");
    m_keys = term::EscapeKeys(m_interactive ? m_request.escape.value_or(term::kDefaultEscape)
                                            : m_request.escape);
    m_enter = m_interactive ? std::optional<char>('\r')
                            : (m_request.eolOut ? std::optional<char>('\n') : std::nullopt);
    m_view.emplace(m_request.view, arrival::WallClock::now());
    m_lastInputNs = transmit::steadyNanoseconds();
    term::TerminalOptions options{m_request.port, screen(), QStringLiteral("standard output")};
    // On a terminal the worker reads the keys itself: a key costs it one wake-up.
    if (m_interactive) {
        options.keysFd = STDIN_FILENO;
        options.keys = [this](bool deviceThere) { return readKeys(deviceThere); };
    }
    m_direct = keysGoDirect();
    if (!m_session.start(std::move(opened.port), options))
        return QStringLiteral("Could not start the terminal");
    if (m_connected && m_interactive)
        printNote(QStringLiteral("Connected to %1 (%2 q quits, %2 ? lists the commands)")
                      .arg(portName, term::escapeKeyName(*m_keys.escape())));
    // On a terminal the main thread reads the keys only while the port is lent for a send.
    m_input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &m_loop);
    m_input->setEnabled(!m_interactive);
    QObject::connect(m_input, &QSocketNotifier::activated, &m_loop, [this] { onInput(); });
    return {};
}

void TermRun::finish() {
    if (m_send)
        m_send->stop();
    if (m_transfer)
        m_transfer->stop();
    const QString logPath = m_session.logPath();
    const qint64 logged = m_session.logging() ? m_session.closeLog() : 0;
    m_session.stop();
    if (m_screenFd >= 0)
        ::close(m_screenFd);
    m_screenFd = -1;
    // The terminal is given back before the last words, which then end as lines always do.
    m_raw.restore();
    setMessageStyle(QStringLiteral("[kalvosan] "), "\n");
    if (!logPath.isEmpty()) {
        printNote(QStringLiteral("Log %1 closed: %2 bytes").arg(logPath).arg(logged));
        const QString next = advanceCaptureFileName(m_request.logFile.name);
        if (next != m_request.logFile.name)
            storeCaptureFile(next);
    }
}

void TermRun::quit(int exitCode) {
    if (m_exitCode == kExitSuccess)
        m_exitCode = exitCode;
    m_loop.quit();
}

// The device's bytes on standard output, from the worker: as they came, or through the view,
// which takes a switch of the keys at the next burst.
BurstConsumer TermRun::screen() {
    return [this](const CapturedBurst &burst, const std::atomic<bool> &running) -> qint64 {
        m_lastInputNs = transmit::steadyNanoseconds();
        if (const auto start = m_zmodem.feed(burst.data, burst.size)) {
            QMetaObject::invokeMethod(
                &m_loop, [this, start = *start] { onZmodemStart(start); }, Qt::QueuedConnection);
        }
        term::ScreenView &view = *m_view;
        QByteArray switched = view.setHex(m_wantHex.load());
        switched += view.setStamps(term::Stamps(m_wantStamps.load()));
        if (switched.isEmpty() && view.passesThrough()) {
            const platform::StreamWrite w = toScreen(burst.data, burst.size, running);
            if (w.error != 0)
                m_screenError = w.error;
            return w.error != 0 ? -1 : w.written;
        }
        const QByteArray text = switched + view.render(burst.data, burst.size, burst.when);
        const platform::StreamWrite w = toScreen(text.constData(), text.size(), running);
        if (w.error != 0)
            m_screenError = w.error;
        return w.error != 0 ? -1 : (w.written == text.size() ? burst.size : 0);
    };
}

// On the worker. While a screen that is a terminal has no room, the keys are read all the same.
platform::StreamWrite TermRun::toScreen(const char *data, qint64 size,
                                        const std::atomic<bool> &running) {
    if (m_screenFd < 0)
        return platform::writeStream(STDOUT_FILENO, data, size, running);
    const platform::StreamWatch keys{STDIN_FILENO, [this] { return m_session.takeKeys(); }};
    return platform::writeStream(m_screenFd, data, size, running, true,
                                 m_interactive ? &keys : nullptr);
}

// --- what comes from the user -------------------------------------------------------------

// On the worker, as soon as a key is there: the keys before an escape key go to the device;
// the escape key and what follows it go to the main thread, in order, and so does every key
// while the main thread has keys of its own to handle (a command, a prompt, hex lines, the
// device away).
term::KeysRead TermRun::readKeys(bool deviceThere) {
    char buffer[kReadChunk];
    const qint64 n = platform::readReady(STDIN_FILENO, buffer, sizeof buffer);
    if (n == platform::kStreamStopped)
        return {};
    if (n <= 0) {
        QMetaObject::invokeMethod(
            &m_loop, [this] { quit(kExitSuccess); }, Qt::QueuedConnection);
        return {{}, true};
    }
    const char *const end = buffer + n;
    const char *direct = buffer;
    if (deviceThere && m_direct.load() && m_handled.load() == m_handedOver.load()) {
        const std::optional<char> escape = m_keys.escape();
        direct = escape ? std::find(static_cast<const char *>(buffer), end, *escape) : end;
    }
    term::KeysRead keys;
    if (direct > buffer) {
        keys.send = term::mapOutgoing(buffer, direct - buffer, '\r', m_eolOut);
        if (m_echo.load())
            echo(QByteArray(buffer, direct - buffer).replace('\r', m_request.view.newline));
    }
    if (direct < end) {
        ++m_handedOver;
        QMetaObject::invokeMethod(
            &m_loop, [this, rest = QByteArray(direct, end - direct)] { onKeys(rest); },
            Qt::QueuedConnection);
    }
    return keys;
}

void TermRun::onKeys(const QByteArray &keys) {
    for (qsizetype i = 0; i < keys.size() && m_loop.isRunning(); ++i)
        handleKey(keys[i]);
    flushUnsent();
    m_direct = keysGoDirect();
    ++m_handled;
}

bool TermRun::keysGoDirect() const {
    return m_interactive && !m_hex && m_prompt == Prompt::None && !m_keys.pending() &&
           !(m_send && m_send->busy());
}

void TermRun::onInput() {
    char buffer[kReadChunk];
    const qint64 n = platform::readStream(STDIN_FILENO, buffer, sizeof buffer, kNoWait);
    if (n == platform::kStreamStopped)
        return;
    if (n <= 0) {
        inputEnded();
        return;
    }
    for (qint64 i = 0; i < n && m_loop.isRunning(); ++i)
        handleKey(buffer[i]);
    flushUnsent();
}

// On a terminal the user has gone; a pipe's bytes are sent, and the answer waited for.
void TermRun::inputEnded() {
    m_input->setEnabled(false);
    if (m_interactive) {
        quit(kExitSuccess);
        return;
    }
    m_inputEnded = true;
    m_lastInputNs = transmit::steadyNanoseconds();
    m_idleCheck.start(kIdleCheckMs);
}

void TermRun::checkIdle() {
    const bool sent = m_unsent.isEmpty() && m_session.room() == term::kOutboxCapacity;
    if (!sent) {
        m_lastInputNs = transmit::steadyNanoseconds();
        return;
    }
    const auto quietNs = transmit::steadyNanoseconds() - m_lastInputNs.load();
    if (quietNs >= std::chrono::nanoseconds(m_request.idle).count())
        quit(kExitSuccess);
}

void TermRun::handleKey(char key) {
    if (m_prompt != Prompt::None) {
        promptKey(key);
        return;
    }
    // While a file goes out, the keys wait for it; the escape key ends it.
    if (m_send && m_send->busy()) {
        if (m_keys.escape() && key == *m_keys.escape())
            m_send->abort();
        return;
    }
    if (transferBusy()) {
        if (m_keys.escape() && key == *m_keys.escape())
            m_transfer->abort();
        return;
    }
    const term::KeyAction action = m_keys.feed(key);
    if (action.kind == term::KeyAction::Kind::Command)
        command(action.byte);
    else if (action.kind == term::KeyAction::Kind::Send)
        typed(action.byte);
}

void TermRun::typed(char key) {
    if (m_hex) {
        typedHex(key);
        return;
    }
    const QByteArray bytes =
        m_enter && key == *m_enter ? term::lineEndBytes(m_eolOut) : QByteArray(1, key);
    m_unsent += bytes;
    if (m_echo)
        echo(m_enter && key == *m_enter ? m_request.view.newline : bytes);
}

// Typed hex: a line of digit pairs, sent as bytes when it ends, by the rules of send --hex.
void TermRun::typedHex(char key) {
    if (key == '\r' || key == '\n') {
        const QByteArray line = m_hexLine;
        m_hexLine.clear();
        if (m_interactive)
            std::fputs(messageLineEnd(), stderr);
        if (line.trimmed().isEmpty())
            return;
        if (const auto bytes = transmit::bytesFromHex(QString::fromLatin1(line)))
            m_unsent += *bytes;
        else
            printError(QStringLiteral("Not sent: %1 (pairs of hex digits, with or without "
                                      "blanks and 0x)")
                           .arg(QString::fromLatin1(line)));
        return;
    }
    if (key == kBackspace || key == kDelete)
        m_hexLine.chop(1);
    else if (key >= ' ')
        m_hexLine += key;
    if (m_interactive) {
        std::fprintf(stderr, "\r\x1b[K[kalvosan] hex> %s", m_hexLine.constData());
        std::fflush(stderr);
    }
}

void TermRun::flushUnsent() {
    if (!m_unsent.isEmpty()) {
        const qint64 taken = m_session.send(m_unsent.constData(), m_unsent.size());
        m_unsent.remove(0, taken);
    }
    if (m_unsent.isEmpty() || !m_session.running()) {
        m_unsent.clear();
        if (!m_inputEnded && !m_interactive)
            m_input->setEnabled(true);
        return;
    }
    // A key the device cannot take now is dropped, so that the escape key still gets through;
    // a pipe waits for room.
    if (m_interactive) {
        printWarning(m_session.away() ? QStringLiteral("not sent: the device is away")
                                      : QStringLiteral("not sent: the device takes no more"));
        m_unsent.clear();
        return;
    }
    m_input->setEnabled(false);
    m_retry.start(kRetryMs);
}

void TermRun::echo(const QByteArray &bytes) {
    platform::writeStream(STDOUT_FILENO, bytes.constData(), bytes.size(), kNoWait);
}

} // namespace cli
