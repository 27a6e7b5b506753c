// A capture: the port, the capture file and the receive worker that drains the port into the
// file. The window and the command line each own one; it knows no widget.
#pragma once

#include "loader/arrival_times.h"
#include "platform/files.h"
#include "platform/session_worker.h"
#include "platform/wake_event.h"
#include "serial/port_config.h"

#include <QFile>
#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

// A burst the receive worker has read: its bytes, their offset in the capture (the header not
// counted) and when they came.
struct CapturedBurst {
    qint64 offset = 0;
    const char *data = nullptr;
    qint64 size = 0;
    arrival::WallClock::time_point when;
};
// Takes each burst on the worker thread before the next read, so that a slow taker holds the
// capture up rather than piling bytes up: the count it took (all, or fewer when `running`
// dropped while it waited), or -1 when it failed. It waits only in slices that look at `running`.
using BurstConsumer =
    std::function<qint64(const CapturedBurst &burst, const std::atomic<bool> &running)>;

// How the owner's work for the port went (see CaptureOptions::service).
enum class PortService {
    Done,    // nothing is left to do
    Pending, // the port took part of it; the worker comes back to it soon
    Failed,  // the port refused a write
};
// `port` is null while the device is away: only the descriptors that fired are looked at then.
// It is called once with a null port and nothing fired as the port goes (a hang-up): a pointer
// to the port kept from an earlier call is stale from then on.
// The servicer may stop the waits on one of `wake`'s descriptors by setting it to -1.
using PortServicer = std::function<PortService(serial::Port *port, platform::WakeSet &wake,
                                               const std::atomic<bool> &running)>;

struct CaptureOptions {
    serial::PortConfig port; // the capture profile
    QString path;            // the capture file
    QByteArray header;       // written first (see captureHeader)
    // The capture ends by itself after this many bytes; 0 for no limit.
    qint64 byteLimit = 0;
    // And after this long without a byte, counted from the start while none came; the time a
    // device is away counts as silence. 0 for none.
    std::chrono::milliseconds idle{0};
    // Also writes the arrival time of every burst into "<path>.times" (loader/arrival_times.h).
    bool arrivalTimes = false;
    // Gets every burst beside the capture file, or instead of it when no file was opened (the
    // count is then what it took). Its failure ends the capture as a failed write does, with
    // writeFailed(consumerName).
    BurstConsumer consumer{};
    QString consumerName{};
    // The port was in use before this capture (handed back after lendPort, or a terminal's
    // log begun midway): what waits in it is the device's latest, not old, and the modem
    // lines stay as they are.
    bool portInUse = false;
    // What came between the open (which drops both queues) and the worker's start is dropped
    // too, as a capture's old bytes; a terminal keeps it (a board's first words after DTR).
    bool dropEarlyBytes = true;
    // progress() is sent; an owner that counts otherwise (a terminal) spares its thread the
    // wake-ups.
    bool reportProgress = true;
    // The owner's work for the port (a terminal's keys, a break, the modem lines), done on the
    // worker between its reads, so that no other thread uses a port that a reconnect may
    // replace. The worker also wakes when one of `wake`'s descriptors becomes readable, also
    // while the device is away. A write the port refuses ends the capture with
    // portWriteFailed(), unless the device has gone: then it is waited for as after any hang-up.
    PortServicer service{};
    platform::WakeSet wake{};
};

class ReceiveLoop;

class CaptureSession : public QObject {
    Q_OBJECT
public:
    explicit CaptureSession(QObject *parent = nullptr);
    // Stops and waits for the worker: a worker never outlives its session.
    ~CaptureSession() override;

    // Creates (or empties, or with Creation::New refuses) the capture file, holds it until the
    // capture ends, and writes the header; with arrivalTimes creates the file of arrival times
    // beside it anew, else removes an older one. Empty, or the message ("Could not open file " /
    // "Could not write file " + path), with the errno in fileError(): a file another capture
    // holds is refused untouched (EWOULDBLOCK), and so is a FIFO rather than left to block the
    // caller until a reader comes, and a symbolic link at the name (ELOOP). The file is emptied
    // last, once the times file is there: a capture that cannot start leaves it as it was.
    QString openFile(const QString &path, const QByteArray &header, bool arrivalTimes = false,
                     platform::Creation creation = platform::Creation::Replace);
    int fileError() const { return m_fileError; }
    // openFile on `name` in `directory`, or on the next free name of its numbering (left in
    // `name`), as openNumberedCapture.
    QString openNumberedFile(const QString &directory, QString &name, bool nameGiven,
                             bool arrivalTimes);
    void closeFile();

    // Starts the receive worker on an open port, with the file opened by openFile. False, and
    // no worker, when no thread could be had.
    bool start(std::unique_ptr<serial::Port> port, const CaptureOptions &options);
    // The port, the file and the worker in one, the port first, so that a capture whose port
    // does not open leaves the files on disk as they were: empty, or the message. `details`
    // (without the port) tells why an open failed, whether the driver refused RS485 ("Unable to
    // pass data into driver") and which line settings the port kept.
    QString start(const CaptureOptions &options, serial::OpenedPort *details = nullptr);

    // Lends the port to another session for a while (a file sent from a terminal): the worker
    // ends after its final read, and the files stay open, the modem lines as they are and what
    // comes meanwhile in the port. Null, with the capture ended all the same, while the device
    // is away. resumeWith goes on with the same files; start() begins anew.
    std::unique_ptr<serial::Port> lendPort();
    // A null port is waited for, as after an unplug, without a second "waiting" notice.
    bool resumeWith(std::unique_ptr<serial::Port> port);

    // Asks the worker to end after its final read; returns at once.
    void requestStop();
    // Ends the capture and waits for the worker (within one pace and a final read): the file
    // is complete and closed when this returns.
    void stop();

    // A worker has been started and not yet waited for.
    bool busy() const { return m_worker.busy(); }
    // Drops what the last worker posted and the owner has not yet received: its transfer is
    // over for the owner, who is about to begin another.
    void discardPending() { m_worker.discardPending(); }
    // Bytes written to the file in this capture, header not counted.
    qint64 count() const { return m_count.load(); }
    const QString &path() const { return m_path; }
    // The port of the last capture, once its worker has ended: it stays open with DTR low
    // until its owner closes it or opens the next one.
    std::unique_ptr<serial::Port> takePort();

    // The read step: what the port has queued, up to the capacity, without waiting; 0 for
    // nothing and for a read that failed (a hung-up device).
    std::int64_t ReadAvailable(char *buffer, std::int64_t capacity);

signals:
    // The running count, at most every 50 ms, and always the last one.
    void progress(qint64 count);
    // A write to the capture file failed; the worker has ended and closed the file.
    void writeFailed(const QString &path);
    // The worker ended by itself: the byte limit or the idle time was reached.
    void limitReached(qint64 count);
    // The device went away (hung up, unplugged); the capture keeps its file open and tries to
    // open the port again every 500 ms, until it is back or the capture is stopped.
    void waiting(const QString &portName);
    // The port is open again; the capture goes on appending to the same file.
    void reconnected(qint64 count);
    // The port refused a write of the owner's service; the worker has ended.
    void portWriteFailed(const QString &portName);

private:
    friend class ReceiveLoop;
    void ReceiveWorker(std::uint64_t generation);
    // How a step of the receive worker ended.
    enum class Step { Going, WriteFailed, HungUp, PortWriteFailed };
    // The worker's first steps on a port it was given: its priority, and for a port not in
    // use yet the modem lines and dropping what waited before the start.
    void beginOn(ReceiveLoop &loop);
    // The worker's last steps: the files closed, DTR dropped and the end reported, unless the
    // port is lent.
    void endWorker(std::uint64_t generation, Step last, bool reachedLimit);
    // Waits for the device to come back after a hang-up, until it is back (Going), the capture
    // is stopped or `giveUpAt` has come (Going, without a port); WriteFailed when the arrival
    // time of its return could not be written.
    Step reconnect(std::uint64_t generation, std::chrono::steady_clock::time_point giveUpAt,
                   bool announce = true);
    // A burst has just been written at `offset`: its line in the times file.
    bool recordArrival(qint64 offset, arrival::WallClock::time_point when,
                       bool reconnected = false);
    // One pause of a wait for the device, up to `length`: the owner's descriptors are waited
    // on meanwhile, and served when they fire.
    void pauseAway(std::chrono::steady_clock::duration length);

    QFile m_file;
    QString m_path;
    QFile m_timesFile;        // open while arrival times are recorded
    QString m_failedPath;     // worker only: the file whose write failed
    platform::WakeSet m_wake; // worker only: what it waits on beside the port
    int m_fileError = 0;
    qint64 m_headerSize = 0;
    std::unique_ptr<serial::Port> m_port;
    CaptureOptions m_options;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_lending{false};
    std::atomic<qint64> m_count{0};
    // Declared last: it is joined first, while everything the worker uses is still there.
    platform::SessionWorker m_worker;
};
