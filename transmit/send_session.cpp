#include "transmit/send_session.h"

#include "platform/files.h"
#include "serial/baud.h"

#include <algorithm>
#include <chrono>
#include <cstring>

using transmit::ChunkResult;
using transmit::SendEnd;
using transmit::WriteEnd;

namespace {

// Pause of a mode-1 worker whose last write has not gone out in full.
constexpr auto kPendingPause = std::chrono::milliseconds(25);
// The reply monitor takes what the port holds this often, up to one chunk at a time.
constexpr auto kMonitorPeriod = std::chrono::milliseconds(20);
constexpr int kMonitorChunk = 4096;
// Chunks read from the send file at a time.
constexpr int kReadChunks = 16;

} // namespace

SendSession::SendSession(QObject *parent)
    : QObject(parent), m_block(kReadChunks * transmit::kChunkSize), m_worker(this) {
    m_progressTimer.setInterval(transmit::ProgressMailbox::kPeriodMs);
    connect(&m_progressTimer, &QTimer::timeout, this, &SendSession::showProgress);
}

SendSession::~SendSession() {
    stop();
}

QString SendSession::openFile(const QString &path, transmit::SendSource::Streams streams) {
    stop();
    m_path = path;
    if (!m_source.open(path, streams, &m_fileError))
        return QStringLiteral("Could not open file ") + path;
    return {};
}

void SendSession::setBytes(const QByteArray &bytes) {
    stop();
    m_path.clear();
    m_source.setBytes(bytes);
}

void SendSession::closeFile() {
    if (!busy())
        m_source.close();
}

qint64 SendSession::fileSize() const {
    return m_source.length();
}

bool SendSession::start(std::unique_ptr<serial::Port> port, const transmit::SendOptions &options) {
    stop();
    m_port = std::move(port);
    m_options = options;
    m_delayMs = options.delayMs;
    m_mode2 = options.mode2;
    m_writePending = false;
    m_progress.clear();
    m_sent = 0;
    m_writeError = 0;
    m_length = m_source.length();
    m_nextLengthNs = 0;
    m_schedule.restart();
    m_reported = false;
    m_gaps.start(options.lineDelayMs);
    m_timed = false;
    m_wholeChunkPace = false;
    m_running = true;
    if (!m_worker.start([this](std::uint64_t generation) { SendWorker(generation); })) {
        m_running = false;
        m_source.close();
        return false;
    }
    m_progressTimer.start();
    return true;
}

QString SendSession::start(const QString &path, const transmit::SendOptions &options,
                           serial::OpenedPort *details) {
    if (QString error = openFile(path); !error.isEmpty())
        return error;
    return startOpened(options, details);
}

QString SendSession::startOpened(const transmit::SendOptions &options, serial::OpenedPort *details,
                                 const std::atomic<bool> *running) {
    serial::OpenedPort opened = serial::openPort(options.port, running);
    if (details) {
        *details = opened.details();
    }
    if (!opened) {
        closeFile();
        return opened.error;
    }
    transmit::SendOptions withPort = options;
    withPort.writeMultiplier = opened.writeMultiplier;
    if (!start(std::move(opened.port), withPort))
        return QStringLiteral("Could not start the send");
    return {};
}

void SendSession::setDelay(double delayMs) {
    m_delayMs = delayMs;
}

void SendSession::setMode2(bool mode2) {
    m_mode2 = mode2;
}

void SendSession::abort() {
    m_running = false;
    // The device sees the end at once, not only when the worker has left its current write.
    if (busy() && m_port && !m_options.lentPort)
        m_port->setDtr(false);
}

void SendSession::stop() {
    abort();
    // The worker never waits for this thread and looks at the flags at least every 50 ms.
    m_worker.join();
}

std::unique_ptr<serial::Port> SendSession::takePort() {
    stop();
    return std::move(m_port);
}

// Worker: a few stores, no system call and no wake-up, so that neither a chunk nor the pause
// after a byte pays for the window's title. The file's length, a system call, is looked up
// only as often as the owner shows it.
void SendSession::reportProgress(qint64 sent, std::int64_t nowNs) {
    if (nowNs >= m_nextLengthNs) {
        m_length = m_source.length();
        m_nextLengthNs = nowNs + std::int64_t(transmit::ProgressMailbox::kPeriodMs) * 1'000'000;
    }
    m_progress.report(sent, m_length);
    m_reported = true;
}

// Owner: on the timer while the worker runs, and once more at its end.
void SendSession::showProgress() {
    if (const auto count = m_progress.takeNew())
        emit progress(count->sent, count->length);
}

// The send loop: chunks of the file, whole or byte by byte, until the end of the file, a
// failure or the run flag drops. The file is read a block of chunks at a time: a read per
// chunk cost a whole-chunk send a tenth of its time more than cat's larger reads.
SendSession::Outcome SendSession::sendChunks() {
    qint64 filled = 0;
    qint64 at = 0;
    while (m_running) {
        if (!m_mode2 && m_writePending) {
            std::this_thread::sleep_for(kPendingPause);
            continue;
        }
        if (at == filled) {
            filled = m_source.read(m_block.data(), qint64(m_block.size()), m_running);
            at = 0;
            if (filled == transmit::SendSource::kStopped)
                return {SendEnd::Aborted, m_sent};
            if (filled <= 0)
                return {filled == 0 ? SendEnd::Done : SendEnd::ReadFailed, m_sent};
        }
        const auto count = std::uint32_t(std::min<qint64>(filled - at, transmit::kChunkSize));
        const ChunkResult written = writeChunk(m_block.data() + at, count);
        if (written.end != WriteEnd::Written) {
            // What really went out, also of a chunk cut short.
            m_sent += written.taken;
            reportProgress(m_sent, transmit::steadyNanoseconds());
            return {written.end == WriteEnd::Failed ? SendEnd::WriteFailed : SendEnd::Aborted,
                    m_sent};
        }
        at += count;
        m_sent += count;
        reportProgress(m_sent, transmit::steadyNanoseconds());
    }
    return {SendEnd::Aborted, m_sent};
}

void SendSession::SendWorker(std::uint64_t generation) {
    if (!m_options.lentPort)
        serial::startLines(*m_port, m_options.port, m_running);
    const std::int64_t began = transmit::steadyNanoseconds();
    Outcome outcome = sendChunks();
    const std::int64_t duration = transmit::steadyNanoseconds() - began;
    m_preciseTiming.reset();
    // Bytes of a send that ended early stay behind in the driver while flow control holds the
    // line: they must not go out later, nor keep the port's close waiting for them.
    // What they were is taken off the count: it counts what left.
    if (outcome.end == SendEnd::Aborted || outcome.end == SendEnd::WriteFailed)
        outcome.sent -= std::min(m_port->dropOutput(), outcome.sent);
    // The last count, with the file's length at the end, shown before anything that follows.
    const qint64 length = m_source.length();
    if (m_reported) {
        m_progress.report(outcome.sent, length);
        m_worker.post(generation, [this] { showProgress(); });
    }
    transmit::SendResult result{outcome.end,
                                outcome.sent,
                                m_source.isStream() ? outcome.sent : length,
                                m_path,
                                m_options.port.portName,
                                m_writeError != 0 ? platform::errorText(m_writeError) : QString(),
                                m_timed ? m_gaps.report() : transmit::TimingReport{},
                                duration};
    result.timing.measuredAtThisEnd = m_port->completion() == serial::Completion::AtThisEnd;
    result.timing.measuredInKernelBuffer =
        m_port->completion() == serial::Completion::InKernelBuffer;
    m_source.close();
    const bool monitor = outcome.end == SendEnd::Done && m_options.replyMonitor && m_running;
    if (monitor)
        ReplyMonitor(generation);
    // The bytes of a complete send reach the device before the port may be closed, and before
    // DTR drops: a server takes a change of DTR at once, while it may still hold the tail. Those
    // of an aborted or failed send were dropped, and a monitored one went out long ago. A lent
    // port is neither finished nor has its DTR dropped: its owner goes on with it.
    if (outcome.end == SendEnd::Done && !monitor && !m_options.lentPort) {
        if (QString failure = m_port->finishOutput(m_running); !failure.isEmpty()) {
            result.end = SendEnd::WriteFailed;
            result.failure = std::move(failure);
        }
    }
    if (!m_options.lentPort)
        m_port->setDtr(false);
    m_running = false;
    m_worker.post(generation, [this, result] {
        m_progressTimer.stop();
        showProgress();
        emit finished(result);
    });
}

// After a send: every 20 ms what the port has queued goes to the owner (or its consumer), until
// Abort.
void SendSession::ReplyMonitor(std::uint64_t generation) {
    m_worker.post(generation, [this] {
        showProgress();
        emit monitoringStarted();
    });
    char buffer[kMonitorChunk];
    // Abort ends the monitor as it ends a send: by the run flag.
    while (m_running) {
        std::this_thread::sleep_for(kMonitorPeriod);
        const qint64 n = m_port->read(buffer, sizeof buffer);
        if (n <= 0)
            continue;
        if (m_options.replyConsumer) {
            if (!m_options.replyConsumer(buffer, n, m_running))
                return;
        } else {
            QByteArray bytes(buffer, n);
            m_worker.post(generation, [this, bytes] { emit replyReceived(bytes); });
        }
    }
}

// Mode 1: the bytes a write time-out left over are offered again until all are out or the
// session stops.
ChunkResult SendSession::WriteFully(const char *data, std::uint32_t count) {
    m_writePending = true;
    qint64 done = 0;
    while (m_running) {
        const qint64 left = count - done;
        const serial::WriteResult result = m_port->write(
            data + done, left, serial::writeTimeout(m_options.writeMultiplier, left), m_running);
        done += result.taken;
        if (result.status == serial::WriteStatus::Complete || done == count) {
            m_writePending = false;
            return {WriteEnd::Written, count};
        }
        if (result.status == serial::WriteStatus::Failed) {
            m_writeError = result.error;
            return {WriteEnd::Failed, done};
        }
        if (result.status != serial::WriteStatus::DeadlinePassed)
            break;
    }
    return {WriteEnd::Stopped, done};
}

// Mode 2: one write; what its time-out left over is dropped, but a port that refuses the
// write ends the send.
ChunkResult SendSession::WriteOnce(const char *data, std::uint32_t count) {
    if (!m_running)
        return {WriteEnd::Stopped, 0};
    const serial::WriteResult result = m_port->write(
        data, count, serial::writeTimeout(m_options.writeMultiplier, count), m_running);
    switch (result.status) {
    case serial::WriteStatus::Complete:
    case serial::WriteStatus::DeadlinePassed:
        return {WriteEnd::Written, count};
    case serial::WriteStatus::Failed:
        m_writeError = result.error;
        return {WriteEnd::Failed, result.taken};
    case serial::WriteStatus::Stopped:
        break;
    }
    return {WriteEnd::Stopped, result.taken};
}

ChunkResult SendSession::writeChunk(const char *data, std::uint32_t count) {
    if (m_delayMs.load() != transmit::kWholeChunks)
        return SendChunkDelayed(data, count);
    paceForWholeChunks();
    m_gaps.interrupt();
    m_schedule.restart();
    if (m_options.lineDelayMs > 0)
        return SendChunkByLines(data, count);
    return m_mode2 ? WriteOnce(data, count) : WriteFully(data, count);
}

// Whole chunks gain nothing from the high priority of the worker: they wait for the device,
// not for a core, and on a pseudo-terminal a nice -20 writer holds up the kernel worker that
// moves its chunks on.
void SendSession::paceForWholeChunks() {
    if (m_wholeChunkPace)
        return;
    m_preciseTiming.reset();
    platform::lowerToNormalPriority();
    m_wholeChunkPace = true;
}

// Each byte's write is complete (the output queue empty) before the next one starts, and the
// time of each completion is recorded: the gaps between them are what the device sees. The due
// times come from the schedule, counted from the previous byte's due time, so the write itself
// and what the worker does between bytes (the progress, reading the next chunk of the file)
// fall inside the pause instead of adding to it.
ChunkResult SendSession::SendChunkDelayed(const char *data, std::uint32_t count) {
    if (!m_preciseTiming)
        keepPreciseTime();
    const std::int64_t lineDelay = transmit::delayNanoseconds(m_options.lineDelayMs);
    for (std::uint32_t i = 0; i < count; ++i) {
        transmit::WaitUntil(m_schedule.writeAt(), m_running);
        const ChunkResult byte = m_mode2 ? WriteOnce(data + i, 1) : WriteFully(data + i, 1);
        if (byte.end != WriteEnd::Written)
            return {byte.end, qint64(i) + byte.taken};
        const std::int64_t done = transmit::steadyNanoseconds();
        const bool lineEnd = data[i] == '\n';
        // The delay may change while the send runs: each byte gets the one asked for now.
        const double delay = m_delayMs;
        m_gaps.byteDone(done, delay, lineEnd);
        m_schedule.byteDone(done, transmit::delayNanoseconds(delay) + (lineEnd ? lineDelay : 0));
        reportProgress(m_sent + i + 1, done);
    }
    return {WriteEnd::Written, count};
}

// From the first byte sent one at a time to the end of the send (or to the next whole chunk),
// the worker runs at the highest priority allowed, keeps to its core, sleeps without timer
// slack, and has the gap histogram and the file's bytes in RAM.
void SendSession::keepPreciseTime() {
    m_timed = true;
    m_wholeChunkPace = false;
    m_preciseTiming.emplace();
    // A network port's byte goes on through a server, which on the same machine needs a core
    // the moment the byte comes: a worker spinning at nice -20 kept it waiting (through ser2net
    // the gaps at the device had a p99 of 2.6 ms at nice -20, 1.1 to 2.5 ms without).
    if (m_port->completion() == serial::Completion::AtThisEnd)
        platform::lowerToNormalPriority();
    m_preciseTiming->lockMemory(&m_gaps, sizeof m_gaps);
    m_preciseTiming->lockMemory(m_block.data(), m_block.size());
}

ChunkResult SendSession::SendChunkByLines(const char *data, std::uint32_t count) {
    const std::int64_t lineDelay = transmit::delayNanoseconds(m_options.lineDelayMs);
    std::uint32_t done = 0;
    while (done < count) {
        const char *end = static_cast<const char *>(std::memchr(data + done, '\n', count - done));
        const std::uint32_t piece = end ? std::uint32_t(end - (data + done)) + 1 : count - done;
        const ChunkResult written =
            m_mode2 ? WriteOnce(data + done, piece) : WriteFully(data + done, piece);
        if (written.end != WriteEnd::Written)
            return {written.end, qint64(done) + written.taken};
        done += piece;
        if (end)
            transmit::WaitNanoseconds(lineDelay, m_running);
    }
    return {WriteEnd::Written, count};
}
