#include "term/terminal_session.h"

#include <vector>

namespace term {

TerminalSession::TerminalSession(QObject *parent) : QObject(parent) {
    connect(&m_capture, &CaptureSession::waiting, this, [this](const QString &portName) {
        // What was typed for the device that went is stale by the time it is back.
        m_away = true;
        m_outbox.clear();
        emit waiting(portName);
    });
    connect(&m_capture, &CaptureSession::reconnected, this, [this](qint64) {
        m_away = false;
        m_dtr = m_options.port.dtr;
        m_rts = m_options.port.rts.value_or(true);
        emit reconnected();
    });
    connect(&m_capture, &CaptureSession::portWriteFailed, this, [this](const QString &name) {
        onFailed(QStringLiteral("Could not write port ") + name);
    });
    connect(&m_capture, &CaptureSession::writeFailed, this, [this](const QString &path) {
        onFailed(QStringLiteral("Could not write ") +
                 (path == m_options.screenName ? path : QStringLiteral("file ") + path));
    });
}

TerminalSession::~TerminalSession() {
    stop();
}

CaptureOptions TerminalSession::captureOptions(bool portInUse) {
    CaptureOptions options;
    options.port = m_options.port;
    options.path = m_capture.path();
    options.arrivalTimes = m_logTimes;
    options.portInUse = portInUse;
    options.dropEarlyBytes = false;
    options.reportProgress = false;
    options.consumerName = m_options.screenName;
    options.consumer = [this, screen = m_options.screen](const CapturedBurst &burst,
                                                         const std::atomic<bool> &running) {
        m_bytesIn += burst.size;
        return screen ? screen(burst, running) : burst.size;
    };
    options.service = [this](serial::Port *port, platform::WakeSet &wake,
                             const std::atomic<bool> &running) {
        return serve(port, wake, running);
    };
    options.wake.fds = {m_outbox.wakeFd(), m_options.keys ? m_options.keysFd : -1};
    return options;
}

bool TerminalSession::start(std::unique_ptr<serial::Port> port, const TerminalOptions &options) {
    // A log opened before the start goes on.
    m_capture.stop();
    m_capture.discardPending();
    m_options = options;
    m_bytesIn = 0;
    m_bytesOut = 0;
    m_outbox.clear();
    m_away = !port;
    m_dtr = options.port.dtr;
    m_rts = options.port.rts.value_or(true);
    m_servedPort = nullptr;
    // Without a port there is nothing yet to wait for the first time: it is waited for.
    m_running = m_capture.start(std::move(port), captureOptions(m_away));
    return m_running;
}

void TerminalSession::stop() {
    m_capture.stop();
    m_capture.discardPending();
    m_capture.takePort();
    m_running = false;
    m_logging = false;
}

qint64 TerminalSession::send(const char *data, qint64 size) {
    if (!m_running || m_away)
        return 0;
    return m_outbox.queueBytes(data, size);
}

void TerminalSession::sendCommand(PortCommand command) {
    if (command == PortCommand::DtrOn || command == PortCommand::DtrOff)
        m_dtr = command == PortCommand::DtrOn;
    if (command == PortCommand::RtsOn || command == PortCommand::RtsOff)
        m_rts = command == PortCommand::RtsOn;
    if (m_running && !m_away)
        m_outbox.queueCommand(command);
}

QString TerminalSession::openNumberedLog(const QString &directory, QString &name, bool nameGiven,
                                         bool arrivalTimes) {
    const bool wasRunning = m_running;
    std::unique_ptr<serial::Port> port = m_capture.lendPort();
    QString error = m_capture.openNumberedFile(directory, name, nameGiven, arrivalTimes);
    m_logging = error.isEmpty();
    m_logTimes = m_logging && arrivalTimes;
    if (wasRunning && !restart(std::move(port)) && error.isEmpty())
        error = QStringLiteral("Could not start the capture");
    return error;
}

qint64 TerminalSession::closeLog() {
    const bool wasRunning = m_running;
    std::unique_ptr<serial::Port> port = m_capture.lendPort();
    const qint64 logged = m_capture.count();
    m_capture.closeFile();
    m_logging = false;
    m_logTimes = false;
    if (wasRunning)
        restart(std::move(port));
    return logged;
}

bool TerminalSession::restart(std::unique_ptr<serial::Port> port) {
    m_capture.discardPending();
    m_servedPort = nullptr;
    m_running = m_capture.start(std::move(port), captureOptions(true));
    return m_running;
}

std::unique_ptr<serial::Port> TerminalSession::lendPort() {
    std::unique_ptr<serial::Port> port = m_capture.lendPort();
    // The capture has ended all the same: the device is waited for again.
    if (!port && m_running)
        giveBack(nullptr);
    return port;
}

bool TerminalSession::giveBack(std::unique_ptr<serial::Port> port) {
    m_away = !port;
    m_servedPort = nullptr;
    m_running = m_capture.resumeWith(std::move(port));
    return m_running;
}

void TerminalSession::onFailed(const QString &message) {
    m_running = false;
    m_capture.stop();
    m_capture.takePort();
    m_logging = false;
    emit failed(message);
}

namespace {
constexpr int kQueueWake = 0;
constexpr int kKeysWake = 1;
} // namespace

PortService TerminalSession::serve(serial::Port *port, platform::WakeSet &wake,
                                   const std::atomic<bool> &running) {
    m_servedPort = port;
    m_servedRunning = &running;
    if (wake.fired[kQueueWake])
        m_outbox.takeWake();
    if (wake.fired[kKeysWake])
        readKeys(port != nullptr, wake);
    // Away, the queue waits for the owner's clear() on the notice of the wait.
    return port ? serveQueue(*port, running) : PortService::Done;
}

PortService TerminalSession::serveQueue(serial::Port &port, const std::atomic<bool> &running) {
    qint64 written = 0;
    std::vector<CommandDone> done;
    const PortService result = m_outbox.serve(port, running, written, done);
    m_bytesOut += written;
    for (const CommandDone &command : done)
        QMetaObject::invokeMethod(
            this, [this, command] { emit commandDone(command); }, Qt::QueuedConnection);
    return result;
}

bool TerminalSession::takeKeys() {
    platform::WakeSet wake;
    wake.fds[kKeysWake] = m_options.keysFd;
    readKeys(m_servedPort != nullptr, wake);
    // A refused write shows again at the worker's next turn, which ends the session then.
    if (m_servedPort)
        serveQueue(*m_servedPort, *m_servedRunning);
    return wake.fds[kKeysWake] >= 0;
}

// Behind what the owner queued before, so that the order the user typed in holds.
void TerminalSession::readKeys(bool deviceThere, platform::WakeSet &wake) {
    const KeysRead keys = m_options.keys(deviceThere);
    if (keys.ended)
        wake.fds[kKeysWake] = -1;
    if (!deviceThere || keys.send.isEmpty())
        return;
    const qint64 refused =
        keys.send.size() - m_outbox.queueBytes(keys.send.constData(), keys.send.size(), false);
    if (refused > 0)
        QMetaObject::invokeMethod(
            this, [this, refused] { emit keysRefused(refused); }, Qt::QueuedConnection);
}

} // namespace term
