// A protocol transfer: the port, the files and the worker that drives the protocol's machine
// over the port (or carries lrzsz's bytes for ZMODEM). The window, the command line and the
// terminal each own one; it knows no widget. A terminal hands its open port over and takes it
// back when the transfer has ended.
#pragma once

#include "platform/session_worker.h"
#include "protocols/received_file.h"
#include "protocols/transfer_result.h"
#include "serial/port_config.h"

#include <QFile>
#include <QObject>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace protocols {
class TransferMachine;
}

class TransferSession : public QObject {
    Q_OBJECT
public:
    explicit TransferSession(QObject *parent = nullptr);
    // Aborts and waits for the worker: a worker never outlives its session.
    ~TransferSession() override;

    // Starts the worker on an open port: empty, or why not (a file to send that cannot be
    // opened, a received XMODEM file that cannot be created, no lrzsz for ZMODEM); the port
    // is then kept for takePort.
    QString start(std::unique_ptr<serial::Port> port, const protocols::TransferOptions &options);
    // Opens the port first (ending early when `running`, if given, drops); `details` as for
    // SendSession::startOpened.
    QString start(const protocols::TransferOptions &options, serial::OpenedPort *details = nullptr,
                  const std::atomic<bool> *running = nullptr);

    // Ends the transfer: the other side is sent the cancel sequence. Returns at once.
    void abort() { m_running = false; }
    // Aborts and waits for the worker.
    void stop();
    bool busy() const { return m_worker.busy(); }
    void discardPending() { m_worker.discardPending(); }
    // The port, once the worker has ended.
    std::unique_ptr<serial::Port> takePort();

signals:
    // At most every 100 ms while the transfer runs, and once at its end.
    void progress(const protocols::TransferProgress &progress);
    void finished(const protocols::TransferResult &result);

private:
    QString openFiles();
    void TransferWorker(std::uint64_t generation);
    protocols::TransferResult runMachine(std::uint64_t generation);
    std::unique_ptr<protocols::TransferMachine> makeMachine();
    bool pump(protocols::TransferMachine &machine);
    void handleEvents(protocols::TransferMachine &machine, protocols::TransferResult &result);
    void beginReceived(protocols::TransferMachine &machine, const protocols::Event &event);
    void endReceived(protocols::TransferMachine &machine, protocols::TransferResult &result,
                     bool complete);
    void postProgress(std::uint64_t generation, const protocols::TransferProgress &progress);
    qint64 readSent(int file, qint64 offset, char *into, qint64 size);

    protocols::TransferOptions m_options;
    std::unique_ptr<serial::Port> m_port;
    std::atomic<bool> m_running{false};
    // The worker's: the files being sent, the file being received and what became of it.
    std::vector<std::unique_ptr<QFile>> m_sent;
    protocols::ReceivedFile m_received;
    QString m_receivedNote;
    qint64 m_receivedMtime = 0;
    QString m_currentFile;
    qint64 m_currentSize = -1;
    // Declared last: it is joined first, while everything the worker uses is still there.
    platform::SessionWorker m_worker;
};
