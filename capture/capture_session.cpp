#include "capture/capture_session.h"

#include "capture/capture_naming.h"
#include "loader/arrival_times.h"
#include "platform/files.h"
#include "platform/thread_priority.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int64_t kReceiveBufferSize = 65536;
// The longest wait for input, the shortest pause when nothing can be read, and the least time
// between two progress reports.
constexpr std::chrono::milliseconds kPace(50);
// One drain takes at most this much before the run flag is looked at again, so that a device
// that never pauses cannot keep "Stop" waiting.
constexpr std::int64_t kDrainBudget = 1 << 20;
// How often a capture whose device went away tries to open the port again.
constexpr std::chrono::milliseconds kReopenPeriod(500);
// The longest wait while the port has not yet taken all of the owner's work.
constexpr std::chrono::milliseconds kServiceRetry(5);
// A read of fewer bytes found the device's queue empty, or nearly: the next wait takes what
// comes after it, instead of a read that finds nothing.
constexpr std::int64_t kGatherMore = 512;

} // namespace

// The receive loop of one capture: waits for input, drains the port into the file and reports
// the running count.
class ReceiveLoop {
public:
    ReceiveLoop(CaptureSession &session, std::uint64_t generation)
        : m_session(session), m_generation(generation), m_buffer(kReceiveBufferSize),
          m_count(session.m_count.load()), m_reported(m_count) {}

    // Bytes waiting from before the start are dropped, neither written nor counted.
    void dropWaiting() { m_session.ReadAvailable(m_buffer.data(), kReceiveBufferSize); }

    bool limitReached() const {
        const qint64 limit = m_session.m_options.byteLimit;
        return limit > 0 && m_count >= limit;
    }

    using Step = CaptureSession::Step;

    // Waits up to one pace for input (or the owner's work), does the owner's work and writes
    // all the input.
    Step step() {
        const auto wait = m_servicePending ? kServiceRetry : kPace;
        const serial::Readiness ready =
            m_session.m_port->waitReadable(int(wait.count()), &m_session.m_wake);
        if (const Step served = serve(); served != Step::Going)
            return served;
        if (ready == serial::Readiness::TimedOut || ready == serial::Readiness::Woken) {
            report(false);
            return Step::Going;
        }
        if (ready == serial::Readiness::HungUp) {
            // Bytes that came before the hang-up are in; nothing more will come this way.
            return drain() < 0 ? Step::WriteFailed : Step::HungUp;
        }
        const std::int64_t got = drain();
        // A device may be "readable" with nothing to read: keep the pace instead of spinning.
        if (got == 0)
            std::this_thread::sleep_for(kPace);
        return got < 0 ? Step::WriteFailed : Step::Going;
    }

    // Writes what is queued now, up to the budget: the byte count, or -1 when a write failed
    // (the session's m_failedPath names the file).
    std::int64_t drain() {
        std::int64_t drained = 0;
        while (drained < kDrainBudget && !limitReached()) {
            std::int64_t filled = gather();
            if (filled == 0)
                break;
            const qint64 limit = m_session.m_options.byteLimit;
            const bool full = filled == kReceiveBufferSize;
            if (limit > 0)
                filled = std::min<std::int64_t>(filled, limit - m_count);
            if (!write(filled))
                return -1;
            drained += filled;
            report(false);
            if (!full)
                break;
        }
        return drained;
    }

    void report(bool last) {
        if (!m_session.m_options.reportProgress)
            return;
        const Clock::time_point now = Clock::now();
        if (m_count == m_reported || (!last && now - m_reportedAt < kPace))
            return;
        m_reported = m_count;
        m_reportedAt = now;
        CaptureSession *session = &m_session;
        const qint64 count = m_count;
        m_session.m_worker.post(m_generation, [session, count] { emit session->progress(count); });
    }

    // The capture has been silent for its idle time.
    bool silent() const {
        const auto idle = m_session.m_options.idle;
        return idle.count() > 0 && Clock::now() - m_lastByteAt >= idle;
    }
    // When it will have been, unless a byte comes; never without an idle time.
    Clock::time_point silentAt() const {
        const auto idle = m_session.m_options.idle;
        return idle.count() > 0 ? m_lastByteAt + idle : Clock::time_point::max();
    }

private:
    // The owner's work for the port. A write refused by a device that has gone is a hang-up.
    Step serve() {
        const PortServicer &service = m_session.m_options.service;
        if (!service)
            return Step::Going;
        serial::Port &port = *m_session.m_port;
        const PortService result = service(&port, m_session.m_wake, m_session.m_running);
        m_servicePending = result == PortService::Pending;
        if (result != PortService::Failed)
            return Step::Going;
        if (port.waitReadable(0) != serial::Readiness::HungUp)
            return Step::PortWriteFailed;
        return drain() < 0 ? Step::WriteFailed : Step::HungUp;
    }

    bool write(std::int64_t size) {
        const qint64 offset = m_session.m_headerSize + m_count;
        const bool toFile = m_session.m_file.isOpen();
        const arrival::WallClock::time_point when = arrival::WallClock::now();
        if (toFile) {
            const qint64 written = m_session.m_file.write(m_buffer.data(), size);
            if (written != size) {
                // A burst cut short (a full disk, the file-size limit) is counted as far as it
                // is in the file, with its arrival time.
                if (written > 0) {
                    m_count += written;
                    m_session.m_count = m_count;
                    m_session.recordArrival(offset, when);
                }
                m_session.m_failedPath = m_session.m_path;
                return false;
            }
        }
        qint64 taken = size;
        if (const BurstConsumer &consumer = m_session.m_options.consumer) {
            taken = consumer({m_count, m_buffer.data(), size, when}, m_session.m_running);
            if (taken < 0) {
                m_session.m_failedPath = m_session.m_options.consumerName;
                return false;
            }
        }
        // The file, when there is one, has the whole burst.
        m_count += toFile ? size : taken;
        m_session.m_count = m_count;
        m_lastByteAt = Clock::now();
        return m_session.recordArrival(offset, when);
    }

    // Several reads into one buffer, so that a fast device costs one file write per buffer.
    std::int64_t gather() {
        std::int64_t filled = 0;
        while (filled < kReceiveBufferSize) {
            const std::int64_t n =
                m_session.ReadAvailable(m_buffer.data() + filled, kReceiveBufferSize - filled);
            if (n <= 0)
                break;
            filled += n;
            if (n < kGatherMore)
                break;
        }
        return filled;
    }

    CaptureSession &m_session;
    const std::uint64_t m_generation;
    std::vector<char> m_buffer;
    std::int64_t m_count = 0;
    std::int64_t m_reported = 0;
    bool m_servicePending = false;
    Clock::time_point m_reportedAt{};
    Clock::time_point m_lastByteAt = Clock::now();
};

CaptureSession::CaptureSession(QObject *parent) : QObject(parent), m_worker(this) {}

CaptureSession::~CaptureSession() {
    stop();
}

QString CaptureSession::openFile(const QString &path, const QByteArray &header, bool arrivalTimes,
                                 platform::Creation creation) {
    stop();
    m_timesFile.close();
    m_path = path;
    m_headerSize = header.size();
    m_fileError = 0;
    // Held while the capture runs, so that another capture never writes into it; unbuffered:
    // every read reaches the file at once, for a live view of it and against a crash.
    if (!platform::openHeld(m_file, path, creation, &m_fileError))
        return QStringLiteral("Could not open file ") + path;
    // Arrival times of an earlier capture under this name must not pass for this one's. What
    // can fail comes before the capture file is emptied: a capture that cannot start leaves it.
    const QString times = arrival::sidecarPath(path);
    if (!arrivalTimes) {
        platform::removeFile(times);
    } else if (!platform::createFresh(m_timesFile, times, &m_fileError)) {
        m_file.close();
        return QStringLiteral("Could not open file ") + times;
    }
    // The header goes over the start of what the file held, then the rest is cut.
    const bool written = header.isEmpty() || m_file.write(header) == header.size();
    if (!written)
        m_fileError = errno;
    if (!written || !platform::keepOnly(m_file, header.size(), &m_fileError)) {
        m_file.close();
        m_timesFile.close();
        return QStringLiteral("Could not write file ") + path;
    }
    return {};
}

void CaptureSession::closeFile() {
    if (!busy()) {
        m_file.close();
        m_timesFile.close();
    }
}

bool CaptureSession::start(std::unique_ptr<serial::Port> port, const CaptureOptions &options) {
    stop();
    m_port = std::move(port);
    m_options = options;
    m_count = 0;
    m_running = true;
    if (!m_worker.start([this](std::uint64_t generation) { ReceiveWorker(generation); })) {
        m_running = false;
        m_file.close();
        return false;
    }
    return true;
}

QString CaptureSession::start(const CaptureOptions &options, serial::OpenedPort *details) {
    // The port first: a capture that cannot start leaves the file at its name as it was.
    serial::OpenedPort opened = serial::openPort(options.port);
    if (details) {
        *details = opened.details();
    }
    if (!opened)
        return opened.error;
    if (QString error = openFile(options.path, options.header, options.arrivalTimes);
        !error.isEmpty())
        return error;
    if (!start(std::move(opened.port), options))
        return QStringLiteral("Could not start the capture");
    return {};
}

QString CaptureSession::openNumberedFile(const QString &directory, QString &name, bool nameGiven,
                                         bool arrivalTimes) {
    return openNumberedCapture(directory, name, nameGiven,
                               [&](const QString &path, const QByteArray &header,
                                   platform::Creation creation, int &reason) {
                                   const QString message =
                                       openFile(path, header, arrivalTimes, creation);
                                   reason = m_fileError;
                                   return message;
                               });
}

std::unique_ptr<serial::Port> CaptureSession::lendPort() {
    if (!busy())
        return nullptr;
    m_lending = true;
    stop();
    m_lending = false;
    return std::move(m_port);
}

bool CaptureSession::resumeWith(std::unique_ptr<serial::Port> port) {
    stop();
    m_port = std::move(port);
    m_options.portInUse = true;
    m_running = true;
    if (!m_worker.start([this](std::uint64_t generation) { ReceiveWorker(generation); })) {
        m_running = false;
        closeFile();
        return false;
    }
    return true;
}

void CaptureSession::requestStop() {
    m_running = false;
}

void CaptureSession::stop() {
    requestStop();
    // The worker never waits for this thread and looks at the flag at least every 50 ms.
    m_worker.join();
}

std::unique_ptr<serial::Port> CaptureSession::takePort() {
    stop();
    return std::move(m_port);
}

std::int64_t CaptureSession::ReadAvailable(char *buffer, std::int64_t capacity) {
    // The port is non-blocking: one read takes what is queued, up to the capacity. A failed
    // read (a hung-up device) counts as nothing read.
    const qint64 n = m_port ? m_port->read(buffer, capacity) : -1;
    return n > 0 ? n : 0;
}

void CaptureSession::beginOn(ReceiveLoop &loop) {
    // A network port's bytes wait in the socket, with flow control behind them: a late read
    // loses nothing. A reader at nice -20 woke for every small segment and held up a serial
    // server on the same machine (about half of socat's rate through ser2net).
    if (m_port->completion() == serial::Completion::AtThisEnd)
        platform::lowerToNormalPriority();
    if (m_options.portInUse)
        return;
    serial::startLines(*m_port, m_options.port, m_running);
    if (m_options.dropEarlyBytes)
        loop.dropWaiting();
}

void CaptureSession::ReceiveWorker(std::uint64_t generation) {
    m_wake = m_options.wake;
    ReceiveLoop loop(*this, generation);
    Step step = Step::Going;
    if (m_port)
        beginOn(loop);
    else
        step = reconnect(generation, loop.silentAt(), !m_options.portInUse);
    bool reachedLimit = false;
    while (step == Step::Going && m_running.load()) {
        reachedLimit = loop.limitReached() || loop.silent();
        if (reachedLimit || !m_port)
            break;
        step = loop.step();
        if (step == Step::HungUp)
            step = reconnect(generation, loop.silentAt());
    }
    // Bytes that came just before "Stop".
    if (step == Step::Going && m_port && !loop.limitReached() && loop.drain() < 0)
        step = Step::WriteFailed;
    loop.report(true);
    endWorker(generation, step, reachedLimit);
}

void CaptureSession::endWorker(std::uint64_t generation, Step last, bool reachedLimit) {
    if (m_lending && last == Step::Going)
        return;
    m_file.close();
    m_timesFile.close();
    if (m_port && last != Step::PortWriteFailed)
        m_port->setDtr(false);
    if (last == Step::WriteFailed)
        m_worker.post(generation, [this, path = m_failedPath] { emit writeFailed(path); });
    else if (last == Step::PortWriteFailed)
        m_worker.post(generation,
                      [this, name = m_options.port.portName] { emit portWriteFailed(name); });
    else if (reachedLimit)
        m_worker.post(generation, [this] { emit limitReached(m_count.load()); });
}

bool CaptureSession::recordArrival(qint64 offset, arrival::WallClock::time_point when,
                                   bool reconnected) {
    if (!m_timesFile.isOpen())
        return true;
    const QByteArray line = arrival::line(offset, when, reconnected);
    if (m_timesFile.write(line) == line.size())
        return true;
    m_failedPath =
        m_timesFile.fileName().isEmpty() ? arrival::sidecarPath(m_path) : m_timesFile.fileName();
    return false;
}

CaptureSession::Step CaptureSession::reconnect(std::uint64_t generation, Clock::time_point giveUpAt,
                                               bool announce) {
    // The port goes at once (and its lock with it), so that the device can come back under
    // the same name; the owner's service, which may keep it for work between two of its calls,
    // lets go of it first.
    if (m_options.service) {
        m_wake.fired = {};
        m_options.service(nullptr, m_wake, m_running);
    }
    m_port.reset();
    if (announce)
        m_worker.post(generation, [this, name = m_options.port.portName] { emit waiting(name); });
    const auto going = [&] { return m_running.load() && Clock::now() < giveUpAt; };
    while (going()) {
        const Clock::time_point reopenAt = Clock::now() + kReopenPeriod;
        for (Clock::time_point now = Clock::now(); now < reopenAt && going(); now = Clock::now())
            pauseAway(std::min<Clock::duration>(kPace, reopenAt - now));
        if (!going())
            break;
        serial::OpenedPort opened = serial::openPort(m_options.port, &m_running);
        if (!opened)
            continue;
        m_port = std::move(opened.port);
        // A capture that cannot say where the device came back ends as any failed write does.
        if (!recordArrival(m_headerSize + m_count, arrival::WallClock::now(), true))
            return Step::WriteFailed;
        m_worker.post(generation, [this, count = m_count.load()] { emit reconnected(count); });
        return Step::Going;
    }
    // Stopped, or silent for too long, while the device was away.
    return Step::Going;
}

void CaptureSession::pauseAway(Clock::duration length) {
    const PortServicer &service = m_options.service;
    if (!service || (m_wake.fds[0] < 0 && m_wake.fds[1] < 0)) {
        std::this_thread::sleep_for(length);
        return;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(length);
    // Without a port, a failed wait would return at once every time: keep the pace then.
    if (platform::pollWith(-1, 0, &m_wake, int(ms.count())) < 0) {
        std::this_thread::sleep_for(length);
        return;
    }
    if (m_wake.anyFired())
        service(nullptr, m_wake, m_running);
}
