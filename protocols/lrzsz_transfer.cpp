#include "protocols/lrzsz_transfer.h"

#include "platform/child_process.h"
#include "platform/files.h"
#include "protocols/received_file.h"
#include "protocols/xmodem_block.h"
#include "protocols/ymodem_header.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <chrono>

namespace protocols {

namespace {

constexpr qint64 kChunk = 65536;
// While neither side has anything, each is waited for this long in turn.
constexpr int kIdleWaitMs = 5;
constexpr auto kWriteTimeout = std::chrono::milliseconds(10000);
constexpr int kProgressPeriodMs = 100;

QStringList arguments(const TransferOptions &options) {
    // Binary, with the progress on standard error; rz restricted to plain names in its folder.
    if (options.direction == Direction::Send)
        // "--": a file whose name begins with "-" is a file, not an option.
        return QStringList{QStringLiteral("-b"), QStringLiteral("-vv"), QStringLiteral("--")} +
               options.files;
    return {QStringLiteral("-b"), QStringLiteral("-vv"), QStringLiteral("-R")};
}

// Moves what rz left in its private folder into the directory, each file under its first free
// name (".part" added to an incomplete one), and removes the folder once it is empty: a file
// that could not be moved stays there, said where, and not as complete.
void placeReceived(const QString &folder, const TransferOptions &options, bool complete,
                   TransferResult &result) {
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDir::Time);
    bool allMoved = true;
    for (const QFileInfo &entry : entries) {
        const SafeName safe = safeFileName(QFile::encodeName(entry.fileName()));
        const QString asked = complete ? safe.name : safe.name + kPartSuffix;
        QString name = asked;
        FileOutcome outcome{name, {}, entry.size(), complete, {}};
        for (int attempt = 1; attempt <= 1000; ++attempt) {
            const QString target = options.directory + u'/' + name;
            int error = 0;
            if (platform::renameWithoutReplacing(entry.filePath(), target, &error)) {
                outcome.name = name;
                outcome.path = target;
                break;
            }
            if (error != EEXIST)
                break;
            name = nextFreeName(name, asked, attempt);
        }
        if (outcome.path.isEmpty()) {
            outcome.path = entry.filePath();
            outcome.complete = false;
            allMoved = false;
        }
        result.files.push_back(outcome);
    }
    if (allMoved)
        QDir(folder).removeRecursively();
}

void listSent(const TransferOptions &options, bool complete, TransferResult &result) {
    for (const QString &path : options.files) {
        const QFileInfo info(path);
        result.files.push_back({info.fileName(), path, info.size(), complete, {}});
    }
}

// The loop that carries the bytes: child to port, port to child (with what the child has not
// taken yet held back, at most one chunk), the child's words to the progress.
class Bridge {
public:
    Bridge(serial::Port &port, platform::ChildProcess &child, const std::atomic<bool> &running,
           const ProgressSink &sink)
        : m_port(port), m_child(child), m_running(running), m_sink(sink) {
        m_clock.start();
    }

    // Empty when the child ended by itself, else why the bridge stopped.
    QString run() {
        while (m_running) {
            const bool busy = fromChild() | toChild();
            if (!m_error.isEmpty())
                return m_error;
            if (m_outputClosed) {
                if (m_child.waitForExit(busy ? 0 : kIdleWaitMs))
                    return {};
            } else if (!busy) {
                waitForEither();
            }
            report(false);
        }
        return kAborted;
    }
    void report(bool always) {
        if (!always && m_sinceReport.isValid() && m_sinceReport.elapsed() < kProgressPeriodMs)
            return;
        m_sinceReport.start();
        TransferProgress progress;
        progress.counts.file = std::max(0, m_words.files() - 1);
        progress.counts.bytes = m_words.bytes();
        progress.counts.total = m_words.bytes();
        progress.file = m_words.file();
        progress.size = m_words.size();
        progress.elapsedMs = m_clock.elapsed();
        m_sink(progress);
    }
    const LrzszProgress &words() const { return m_words; }

private:
    // The port and the child in one wait, so that a byte from either is carried at once. While
    // the child has not taken what came, only its input can make way.
    void waitForEither() {
        if (!m_pending.isEmpty()) {
            m_child.wait(kIdleWaitMs, true);
            return;
        }
        platform::WakeSet child = m_child.readable();
        m_port.waitReadable(kIdleWaitMs, &child);
    }
    bool fromChild() {
        const platform::ChildProcess::Ready ready = m_child.wait(0, !m_pending.isEmpty());
        bool moved = false;
        if (ready.errors) {
            const qint64 n = m_child.readErrors(m_buffer, kChunk);
            if (n > 0)
                m_words.feed(m_buffer, n);
        }
        if (ready.output) {
            const qint64 n = m_child.readOutput(m_buffer, kChunk);
            m_outputClosed = n < 0;
            if (n > 0) {
                moved = true;
                const serial::WriteResult written =
                    m_port.write(m_buffer, n, kWriteTimeout, m_running);
                if (written.status == serial::WriteStatus::Failed ||
                    written.status == serial::WriteStatus::DeadlinePassed)
                    m_error = QStringLiteral("Could not write to the port");
            }
        }
        if (ready.writable && !m_pending.isEmpty()) {
            const qint64 n = m_child.writeInput(m_pending.constData(), m_pending.size());
            if (n > 0)
                m_pending.remove(0, n);
            if (n < 0)
                m_pending.clear();
        }
        return moved;
    }
    bool toChild() {
        if (m_pending.size() >= kChunk)
            return false;
        const serial::Readiness readiness = m_port.waitReadable(0);
        if (readiness == serial::Readiness::HungUp) {
            m_error = QStringLiteral("The port hung up");
            return false;
        }
        if (readiness != serial::Readiness::Readable)
            return false;
        const qint64 n = m_port.read(m_buffer, kChunk - m_pending.size());
        if (n < 0)
            m_error = QStringLiteral("Could not read from the port");
        if (n <= 0)
            return false;
        m_pending.append(m_buffer, n);
        const qint64 taken = m_child.writeInput(m_pending.constData(), m_pending.size());
        if (taken > 0)
            m_pending.remove(0, taken);
        return true;
    }

    serial::Port &m_port;
    platform::ChildProcess &m_child;
    const std::atomic<bool> &m_running;
    const ProgressSink &m_sink;
    LrzszProgress m_words;
    QByteArray m_pending; // from the port, not yet taken by the child
    char m_buffer[kChunk];
    bool m_outputClosed = false;
    QString m_error;
    QElapsedTimer m_clock;
    QElapsedTimer m_sinceReport;
};

QString childVerdict(const QString &program, int status, const LrzszProgress &words) {
    QString reason =
        QStringLiteral("%1 ended with status %2").arg(QFileInfo(program).fileName()).arg(status);
    if (!words.lastWords().isEmpty())
        reason += QStringLiteral(": ") + words.lastWords();
    return reason;
}

} // namespace

QString lrzszProgram(Direction direction) {
    return platform::ChildProcess::find(direction == Direction::Send ? QStringLiteral("sz")
                                                                     : QStringLiteral("rz"));
}

TransferResult runLrzsz(serial::Port &port, const TransferOptions &options,
                        const std::atomic<bool> &running, const ProgressSink &progress) {
    TransferResult result{Protocol::Zmodem, options.direction};
    const QString program = lrzszProgram(options.direction);
    if (program.isEmpty()) {
        result.reason = kNeedsLrzsz;
        return result;
    }
    QString folder;
    if (options.direction == Direction::Receive) {
        int error = 0;
        folder =
            platform::makePrivateDirectory(options.directory, QStringLiteral(".zmodem-"), &error);
        if (folder.isEmpty()) {
            result.reason = QStringLiteral("Could not open folder ") + options.directory +
                            QStringLiteral(": ") + platform::errorText(error);
            return result;
        }
    }
    platform::ChildProcess child;
    if (const QString error = child.start(program, arguments(options), folder); !error.isEmpty()) {
        result.reason = QStringLiteral("Could not start ") + program + QStringLiteral(": ") + error;
        if (!folder.isEmpty())
            QDir(folder).removeRecursively();
        return result;
    }
    Bridge bridge(port, child, running, progress);
    const QString stopped = bridge.run();
    bridge.report(true);
    if (!stopped.isEmpty()) {
        // The other side stops too: it is sent the cancel sequence, whatever the child did.
        const std::atomic<bool> always{true};
        port.dropOutput();
        port.write(cancelSequence().constData(), cancelSequence().size(),
                   std::chrono::milliseconds(1000), always);
        child.terminate();
        result.reason = stopped;
    } else {
        const int status = child.exitStatus().value_or(255);
        result.complete = status == 0;
        result.reason = result.complete ? kComplete : childVerdict(program, status, bridge.words());
    }
    if (options.direction == Direction::Receive)
        placeReceived(folder, options, result.complete, result);
    else
        listSent(options, result.complete, result);
    return result;
}

} // namespace protocols
