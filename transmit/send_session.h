// A send: the port, the send file and the worker that writes the file to the port, whole
// chunks or byte by byte with a busy-waited pause, followed by the reply monitor when asked.
// The window and the command line each own one; it knows no widget.
#pragma once

#include "platform/session_worker.h"
#include "platform/thread_priority.h"
#include "serial/port_config.h"
#include "transmit/send_logic.h"
#include "transmit/send_source.h"
#include "transmit/send_timing.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace transmit {

// Takes what the device answers, on the worker, before the monitor reads the port again, so
// that a slow taker holds the monitor up rather than piling the replies up. It waits only in
// slices that look at `running`; false: it failed, and the monitor ends.
using ReplyConsumer =
    std::function<bool(const char *data, qint64 size, const std::atomic<bool> &running)>;

struct SendOptions {
    serial::PortConfig port; // the send profile; its name goes into "Could not write port "
    // Milliseconds a write may take per byte (0: none), from serial::openPort.
    std::uint32_t writeMultiplier = 0;
    // The pause after each byte in milliseconds; -1 (kWholeChunks) sends whole chunks, 0 and
    // other negative values send byte by byte without a pause.
    double delayMs = kWholeChunks;
    // An extra pause after each line feed (0x0A), on top of the per-byte pause; with whole
    // chunks the file then goes out in pieces that end at each line end.
    double lineDelayMs = 0;
    bool mode2 = false;
    // After the last byte the session stays, showing what the device answers, until aborted.
    bool replyMonitor = false;
    // Gets the replies instead of replyReceived() when set.
    ReplyConsumer replyConsumer{};
    // The port is lent by another session (a terminal) and goes back to it: the modem lines
    // stay as that session holds them, and the connection of a network port stays up.
    bool lentPort = false;
};

// How a send ended, and what went out.
enum class SendEnd { Done, Aborted, ReadFailed, WriteFailed };
struct SendResult {
    SendEnd end = SendEnd::Done;
    qint64 sent = 0;   // bytes that really went out (mode 2 counts a timed-out write as sent)
    qint64 length = 0; // the send file's length at the end; a stream's is what was sent
    QString path;
    QString portName;
    // Why a write failed, in the system's words, when known.
    QString failure;
    // The gaps between the bytes of a send byte by byte; empty for whole chunks.
    TimingReport timing;
    std::int64_t durationNs = 0; // from the first write to the end of the last
};

} // namespace transmit

class SendSession : public QObject {
    Q_OBJECT
public:
    explicit SendSession(QObject *parent = nullptr);
    // Stops and waits for the worker: a worker never outlives its session.
    ~SendSession() override;

    // Opens the file to send: empty, or "Could not open file " + path with the errno in
    // fileError(). A FIFO is refused rather than left to block the caller until a writer comes;
    // with Streams::Accepted (the command line) it is read as its writer writes, and "-" is
    // standard input: streams without a length, read with waits that an abort ends.
    QString
    openFile(const QString &path,
             transmit::SendSource::Streams streams = transmit::SendSource::Streams::Refused);
    // Sends these bytes instead of a file.
    void setBytes(const QByteArray &bytes);
    int fileError() const { return m_fileError; }
    void closeFile();
    // The length of what is to be sent as far as known; -1 for a stream.
    qint64 fileSize() const;

    // Starts the worker on an open port with the file opened by openFile. False, and no
    // worker, when no thread could be had.
    bool start(std::unique_ptr<serial::Port> port, const transmit::SendOptions &options);
    // The file, the port and the worker in one: empty, or the message. `details` (without the
    // port) as for CaptureSession::start.
    QString start(const QString &path, const transmit::SendOptions &options,
                  serial::OpenedPort *details = nullptr);
    // The port and the worker, for what openFile or setBytes gave. The open ends early when
    // `running` (if given) drops.
    QString startOpened(const transmit::SendOptions &options, serial::OpenedPort *details = nullptr,
                        const std::atomic<bool> *running = nullptr);

    // The pause and the mode may change while the send runs; the worker reads them afresh for
    // every chunk and every byte.
    void setDelay(double delayMs);
    void setMode2(bool mode2);

    // Ends the send (or the reply monitor) at once: the device sees DTR drop now, the worker
    // ends after its current write. Returns without waiting.
    void abort();
    // Aborts and waits for the worker.
    void stop();

    bool busy() const { return m_worker.busy(); }
    // Drops what the last worker posted and the owner has not yet received: its transfer is
    // over for the owner, who is about to begin another.
    void discardPending() {
        m_progressTimer.stop();
        m_worker.discardPending();
    }
    // The port of the last send, once its worker has ended (open, DTR low).
    std::unique_ptr<serial::Port> takePort();

    // The writers and the per-byte sender (mode 1 offers what a time-out left over again,
    // mode 2 drops it).
    transmit::ChunkResult WriteFully(const char *data, std::uint32_t count);
    transmit::ChunkResult WriteOnce(const char *data, std::uint32_t count);
    transmit::ChunkResult SendChunkDelayed(const char *data, std::uint32_t count);
    // Whole chunks cut after each line feed, with the line delay after each piece.
    transmit::ChunkResult SendChunkByLines(const char *data, std::uint32_t count);

signals:
    // Bytes sent so far and the file's length (-1 for a stream): at most every 200 ms while the
    // send runs, and the last count always, just before finished().
    void progress(qint64 sent, qint64 length);
    // The last byte is out and the reply monitor has begun.
    void monitoringStarted();
    // Bytes the device sent while the reply monitor ran (without a reply consumer).
    void replyReceived(const QByteArray &bytes);
    // The worker has ended; the port may be taken back.
    void finished(const transmit::SendResult &result);

private:
    struct Outcome {
        transmit::SendEnd end = transmit::SendEnd::Done;
        qint64 sent = 0;
    };
    void SendWorker(std::uint64_t generation);
    transmit::ChunkResult writeChunk(const char *data, std::uint32_t count);
    Outcome sendChunks();
    void ReplyMonitor(std::uint64_t generation);
    void reportProgress(qint64 sent, std::int64_t nowNs);
    void showProgress();
    void keepPreciseTime();
    void paceForWholeChunks();

    transmit::SendSource m_source;
    QString m_path;
    int m_fileError = 0;
    std::unique_ptr<serial::Port> m_port;
    transmit::SendOptions m_options;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_writePending{false};
    std::atomic<double> m_delayMs{transmit::kWholeChunks};
    std::atomic<bool> m_mode2{false};
    transmit::ProgressMailbox m_progress;
    QTimer m_progressTimer;
    // Worker only: the block of the file being sent, the bytes sent so far (and whether any
    // count was reported), the send file's length as last looked up and when to look again, when
    // the next byte of a send byte by byte is due, the gaps between its bytes, and the thread's
    // settings for either pace.
    std::vector<char> m_block;
    qint64 m_sent = 0;
    int m_writeError = 0; // errno of the write that failed
    bool m_reported = false;
    qint64 m_length = 0;
    std::int64_t m_nextLengthNs = 0;
    transmit::SendSchedule m_schedule;
    transmit::GapRecorder m_gaps;
    bool m_timed = false;
    bool m_wholeChunkPace = false;
    std::optional<platform::PreciseTiming> m_preciseTiming;
    // Declared last: it is joined first, while everything the worker uses is still there.
    platform::SessionWorker m_worker;
};
