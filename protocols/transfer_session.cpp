#include "protocols/transfer_session.h"

#include "platform/files.h"
#include "protocols/lrzsz_transfer.h"
#include "protocols/xmodem_receiver.h"
#include "protocols/xmodem_sender.h"
#include "protocols/ymodem_header.h"
#include "serial/modem_lines.h"

#include <QElapsedTimer>
#include <QFileInfo>

using protocols::Direction;
using protocols::Event;
using protocols::Protocol;
using protocols::TransferResult;

namespace {

constexpr qint64 kReadChunk = 4096;
constexpr int kProgressPeriodMs = 100;
// The longest a worker waits in one go, so that Abort is seen at once.
constexpr auto kSlice = std::chrono::milliseconds(50);
// The cancel sequence of an abort gets this long to go out.
constexpr auto kCancelTimeout = std::chrono::milliseconds(1000);

} // namespace

TransferSession::TransferSession(QObject *parent) : QObject(parent), m_worker(this) {}

TransferSession::~TransferSession() {
    stop();
}

void TransferSession::stop() {
    abort();
    m_worker.join();
}

std::unique_ptr<serial::Port> TransferSession::takePort() {
    stop();
    return std::move(m_port);
}

// The files to send, and an XMODEM file to receive, are opened before anything reaches the
// port: a path that does not work is reported while the other side still waits.
QString TransferSession::openFiles() {
    m_sent.clear();
    if (m_options.direction == Direction::Receive) {
        if (m_options.protocol == Protocol::Ymodem || m_options.protocol == Protocol::Zmodem)
            return {};
        return m_received.create(m_options.directory, m_options.name);
    }
    for (const QString &path : m_options.files) {
        auto file = std::make_unique<QFile>();
        int error = 0;
        if (!platform::openWithoutBlocking(*file, path, QIODevice::ReadOnly, &error))
            return QStringLiteral("Could not open file ") + path + QStringLiteral(": ") +
                   platform::errorText(error);
        m_sent.push_back(std::move(file));
    }
    return {};
}

QString TransferSession::start(std::unique_ptr<serial::Port> port,
                               const protocols::TransferOptions &options) {
    stop();
    m_options = options;
    // Kept on a failure too: takePort gives it back.
    m_port = std::move(port);
    if (options.protocol == Protocol::Zmodem &&
        protocols::lrzszProgram(options.direction).isEmpty())
        return protocols::kNeedsLrzsz;
    if (options.direction == Direction::Send && options.files.isEmpty())
        return QStringLiteral("No file to send");
    if (QString error = openFiles(); !error.isEmpty())
        return error;
    m_running = true;
    if (!m_worker.start([this](std::uint64_t generation) { TransferWorker(generation); })) {
        m_running = false;
        m_received.abandon();
        return QStringLiteral("Could not start the transfer");
    }
    return {};
}

QString TransferSession::start(const protocols::TransferOptions &options,
                               serial::OpenedPort *details, const std::atomic<bool> *running) {
    serial::OpenedPort opened = serial::openPort(options.port, running);
    if (details)
        *details = opened.details();
    if (!opened)
        return opened.error;
    return start(std::move(opened.port), options);
}

void TransferSession::TransferWorker(std::uint64_t generation) {
    if (!m_options.keepLines)
        serial::startLines(*m_port, m_options.port, m_running);
    QElapsedTimer clock;
    clock.start();
    TransferResult result;
    if (m_options.protocol == Protocol::Zmodem) {
        result = protocols::runLrzsz(*m_port, m_options, m_running,
                                     [&](const protocols::TransferProgress &progress) {
                                         postProgress(generation, progress);
                                     });
    } else {
        result = runMachine(generation);
    }
    result.elapsedMs = clock.elapsed();
    m_sent.clear();
    // A port the terminal lent goes back as it was: its connection stays up. Otherwise the
    // last bytes are confirmed before DTR drops, as a server applies a DTR change at once.
    if (!m_options.keepLines) {
        if (result.complete)
            m_port->finishOutput(m_running);
        m_port->setDtr(false);
    }
    m_running = false;
    m_worker.post(generation, [this, result] { emit finished(result); });
}

std::unique_ptr<protocols::TransferMachine> TransferSession::makeMachine() {
    if (m_options.direction == Direction::Receive)
        return std::make_unique<protocols::XmodemReceiver>(m_options.protocol, m_options.timing);
    std::vector<protocols::SendFile> files;
    // The opened files have no names of their own: the paths tell them.
    for (std::size_t i = 0; i < m_sent.size(); ++i) {
        const QFileInfo info(m_options.files.at(qsizetype(i)));
        files.push_back({QFile::encodeName(info.fileName()), m_sent[i]->size(),
                         info.lastModified().toSecsSinceEpoch()});
    }
    return std::make_unique<protocols::XmodemSender>(
        m_options.protocol, files,
        [this](int file, qint64 offset, char *into, qint64 size) {
            return readSent(file, offset, into, size);
        },
        m_options.timing);
}

qint64 TransferSession::readSent(int file, qint64 offset, char *into, qint64 size) {
    QFile &source = *m_sent.at(std::size_t(file));
    if (source.pos() != offset && !source.seek(offset))
        return -1;
    qint64 done = 0;
    while (done < size) {
        const qint64 n = source.read(into + done, size - done);
        if (n <= 0)
            return -1;
        done += n;
    }
    return done;
}

// Writes what the machine has to say; false when the port refused it.
bool TransferSession::pump(protocols::TransferMachine &machine) {
    const QByteArray out = machine.takeOutput();
    if (out.isEmpty())
        return true;
    const serial::WriteResult written =
        m_port->write(out.constData(), out.size(), m_options.timing.blockWait, m_running);
    return written.status == serial::WriteStatus::Complete ||
           written.status == serial::WriteStatus::Stopped;
}

TransferResult TransferSession::runMachine(std::uint64_t generation) {
    TransferResult result{m_options.protocol, m_options.direction};
    const std::unique_ptr<protocols::TransferMachine> machine = makeMachine();
    QElapsedTimer clock;
    clock.start();
    QElapsedTimer sinceReport;
    machine->start(protocols::Clock::now());
    char buffer[kReadChunk];
    while (!machine->ended()) {
        handleEvents(*machine, result);
        if (!m_running) {
            machine->cancel();
            break;
        }
        if (!pump(*machine) && m_running) {
            machine->cancel(QStringLiteral("Could not write port ") + m_options.port.portName);
            break;
        }
        const auto now = protocols::Clock::now();
        const auto deadline = machine->deadline().value_or(now);
        const auto wait =
            std::clamp(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now),
                       std::chrono::milliseconds(0), kSlice);
        const serial::Readiness readiness = m_port->waitReadable(int(wait.count()));
        if (readiness == serial::Readiness::HungUp) {
            machine->cancel(QStringLiteral("The port hung up: ") + m_options.port.portName);
            break;
        }
        if (readiness == serial::Readiness::Readable) {
            const qint64 n = m_port->read(buffer, sizeof buffer);
            if (n > 0)
                machine->feed(buffer, n, protocols::Clock::now());
        }
        if (machine->deadline() && protocols::Clock::now() >= *machine->deadline())
            machine->tick(protocols::Clock::now());
        if (!sinceReport.isValid() || sinceReport.elapsed() >= kProgressPeriodMs) {
            sinceReport.start();
            postProgress(generation,
                         {machine->progress(), m_currentFile, m_currentSize, clock.elapsed()});
        }
    }
    handleEvents(*machine, result);
    // The cancel sequence goes out even after an abort.
    const QByteArray out = machine->takeOutput();
    const std::atomic<bool> always{true};
    if (!out.isEmpty())
        m_port->write(out.constData(), out.size(), kCancelTimeout, always);
    postProgress(generation, {machine->progress(), m_currentFile, m_currentSize, clock.elapsed()});
    if (auto *receiver = dynamic_cast<protocols::XmodemReceiver *>(machine.get()))
        result.padded = receiver->padded() && result.complete;
    return result;
}

void TransferSession::handleEvents(protocols::TransferMachine &machine, TransferResult &result) {
    for (const Event &event : machine.takeEvents()) {
        switch (event.kind) {
        case Event::Kind::FileBegun:
            m_currentFile = QString::fromUtf8(event.name);
            m_currentSize = event.size;
            if (m_options.direction == Direction::Receive)
                beginReceived(machine, event);
            break;
        case Event::Kind::Data:
            if (m_received.isOpen() && !m_received.write(event.data))
                machine.cancel(QStringLiteral("Could not write file ") + m_received.path());
            break;
        case Event::Kind::FileEnded:
            if (m_options.direction == Direction::Receive)
                endReceived(machine, result, true);
            else
                result.files.push_back({m_currentFile,
                                        m_options.files.value(int(result.files.size())),
                                        event.size,
                                        true,
                                        {}});
            break;
        case Event::Kind::Done:
            result.complete = true;
            result.reason = protocols::kComplete;
            break;
        case Event::Kind::Failed:
            result.reason = event.reason;
            if (m_received.isOpen())
                endReceived(machine, result, false);
            break;
        }
    }
}

// A YMODEM file: its name made a plain one, created in the directory under its first free
// name. An XMODEM file was created before the start.
void TransferSession::beginReceived(protocols::TransferMachine &machine, const Event &event) {
    m_receivedMtime = event.mtime;
    m_receivedNote.clear();
    if (m_options.protocol != Protocol::Ymodem)
        return;
    const protocols::SafeName safe = protocols::safeFileName(event.name);
    m_currentFile = safe.name;
    if (safe.changed)
        m_receivedNote = QStringLiteral("The name \"%1\" was made a plain file name: %2")
                             .arg(protocols::printableName(event.name), safe.name);
    if (const QString error = m_received.create(m_options.directory, safe.name); !error.isEmpty())
        machine.cancel(error);
}

// A complete file takes its name; an incomplete one stays under its ".part" name, unless
// nothing at all arrived.
void TransferSession::endReceived(protocols::TransferMachine &machine, TransferResult &result,
                                  bool complete) {
    QString failure;
    if (complete)
        failure = m_received.complete(m_receivedMtime);
    else
        m_received.abandon();
    if (!complete && m_received.size() == 0) {
        platform::removeFile(m_received.path());
        return;
    }
    result.files.push_back({m_received.name(), m_received.path(), m_received.size(),
                            complete && failure.isEmpty(), m_receivedNote});
    if (!failure.isEmpty())
        machine.cancel(failure);
}

void TransferSession::postProgress(std::uint64_t generation,
                                   const protocols::TransferProgress &progress) {
    m_worker.post(generation, [this, counts = progress] { emit this->progress(counts); });
}
