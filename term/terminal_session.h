// One terminal: a capture whose bursts go to a screen (and, while the log is on, into the
// capture file), with a bounded queue of what the user types and of the commands for the
// port, carried out by the capture's own worker between its reads. The reading, the wait for
// an unplugged device, the log file and its arrival times are the capture session's. The
// command line's terminal and the window's each own one; it knows no widget.
#pragma once

#include "capture/capture_session.h"
#include "platform/files.h"
#include "serial/port_config.h"
#include "term/terminal_outbox.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

namespace term {

// The user's keys as the worker reads them: the bytes for the device (the count refused, when
// the queue has no room, is told by keysRefused()), and whether the keys have ended (the
// user's terminal went): they are not waited on any more.
struct KeysRead {
    QByteArray send;
    bool ended = false;
};
// Called on the worker when the keys' descriptor is readable; `deviceThere` is false while
// the device is away, when nothing it gives is sent.
using KeyReader = std::function<KeysRead(bool deviceThere)>;

struct TerminalOptions {
    serial::PortConfig port;
    // Gets every burst on the worker, before the next read (see BurstConsumer).
    BurstConsumer screen{};
    // What a failed screen is called in failed(): "Could not write " + this.
    QString screenName{};
    // The user's keys, read by the worker itself, beside the port, so that a key reaches the
    // device with one wake-up, in order after what send() queued before. None: -1.
    int keysFd = -1;
    KeyReader keys{};
};

class TerminalSession : public QObject {
    Q_OBJECT
public:
    explicit TerminalSession(QObject *parent = nullptr);
    // Stops and waits for the worker.
    ~TerminalSession() override;

    // Starts on an open port; on none, the device is waited for as after an unplug, without
    // the "waiting" notice (the owner has said it). False when no thread could be had.
    bool start(std::unique_ptr<serial::Port> port, const TerminalOptions &options);
    // Ends it: the log is complete and closed, the port released, when this returns.
    void stop();
    bool running() const { return m_running; }
    // The device has gone and is being waited for.
    bool away() const { return m_away; }

    // Queues bytes for the device without waiting: the count taken, fewer than given when the
    // queue is full, none while the device is away.
    qint64 send(const char *data, qint64 size);
    qint64 room() const { return m_outbox.room(); }
    void sendCommand(PortCommand command);
    // The levels last asked for (the port's own after an open or a return).
    bool dtr() const { return m_dtr; }
    bool rts() const { return m_rts; }

    // The log: the capture file `name` in `directory`, or the next free name of its numbering
    // (left in `name`), as openNumberedCapture; opened while the session runs (or before it
    // starts), with the capture stopped once for all the names tried. Empty, or the message.
    QString openNumberedLog(const QString &directory, QString &name, bool nameGiven,
                            bool arrivalTimes);
    // The bytes logged into the file now closed.
    qint64 closeLog();
    bool logging() const { return m_logging; }
    QString logPath() const { return m_logging ? m_capture.path() : QString(); }
    qint64 logged() const { return m_logging ? m_capture.count() : 0; }

    // The port for another session for a while (a file sent, a transfer): reading stops, the
    // log stays open, the modem lines stay. Null while the device is away: the session then
    // goes on waiting for it. giveBack goes on.
    std::unique_ptr<serial::Port> lendPort();
    bool giveBack(std::unique_ptr<serial::Port> port);

    // Worker only, from the screen while it waits for room: the keys are read as between two
    // reads, so that a screen that takes nothing does not hold them up (the quit key among
    // them). False once the keys have ended.
    bool takeKeys();

    qint64 bytesIn() const { return m_bytesIn.load(); }
    qint64 bytesOut() const { return m_bytesOut.load(); }

signals:
    void waiting(const QString &portName);
    void reconnected();
    void commandDone(const term::CommandDone &done);
    // Keys read on the worker found no room in the queue: `count` bytes were not sent.
    void keysRefused(qint64 count);
    // The session ended by itself: "Could not write port " + name, "Could not write file " +
    // the log's path, or "Could not write " + the screen's name.
    void failed(const QString &message);

private:
    CaptureOptions captureOptions(bool portInUse);
    // The capture again on the port it lent, with the log as it is now.
    bool restart(std::unique_ptr<serial::Port> port);
    void onFailed(const QString &message);
    PortService serve(serial::Port *port, platform::WakeSet &wake,
                      const std::atomic<bool> &running);
    void readKeys(bool deviceThere, platform::WakeSet &wake);
    PortService serveQueue(serial::Port &port, const std::atomic<bool> &running);

    TerminalOptions m_options;
    TerminalOutbox m_outbox;
    std::atomic<qint64> m_bytesIn{0};
    std::atomic<qint64> m_bytesOut{0};
    bool m_running = false;
    bool m_away = false;
    bool m_logging = false;
    bool m_dtr = true;
    bool m_rts = true;
    bool m_logTimes = false;
    // Worker only (the owner clears it before a worker starts): the port of its last serve()
    // and the run flag it came with, for keys taken while the screen waits within the same
    // step; null while the device is away, and from the moment the port goes.
    serial::Port *m_servedPort = nullptr;
    const std::atomic<bool> *m_servedRunning = nullptr;
    // Declared last: destroyed, and its worker joined, first.
    CaptureSession m_capture;
};

} // namespace term

Q_DECLARE_METATYPE(term::CommandDone)
