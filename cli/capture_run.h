// What capture and monitor share: the options that end them, and one run of the capture
// session until SIGINT, SIGTERM, SIGHUP, the byte count, the time, the idle time or a failed
// write, with the port waited for (--wait) and the bytes to a file, to standard output or both.
#pragma once

#include "capture/capture_session.h"
#include "cli/command_line.h"
#include "cli/hex_printer.h"
#include "cli/progress_line.h"
#include "cli/transfer_options.h"
#include "platform/streams.h"
#include "platform/termination.h"

#include <QCommandLineOption>
#include <QEventLoop>
#include <QList>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace cli {

// The name of standard output on the command line, and of the capture's consumer that writes
// to it.
inline const QString kStandardOutput = QStringLiteral("-");

struct CaptureRequest {
    CaptureOptions options;
    QString directory;
    QString name;                  // the file's name; empty: no file
    bool nameGiven = false;        // this name, replaced if it exists
    std::optional<double> seconds; // none: no time limit
    bool wait = false;             // for a port that is not there yet
    bool modemLinesGiven = false;
};

// --bytes, --seconds, --idle and --wait, and the request's from them.
QList<QCommandLineOption> captureEndOptions(const QString &what);
QString readCaptureEnds(const CommandLine &line, CaptureRequest &request);
// The port's configuration from the line options; empty or the error.
QString readCapturePort(const CommandLine &line, const Stored &stored, CaptureRequest &request);

// Standard output at the end of a capture: written from the capture's worker, waiting for room
// only while the capture runs (see platform::writeStream).
class CaptureOutput {
public:
    // The raw bytes of each burst.
    BurstConsumer rawBytes();
    // Each burst as hex lines from its own offset, headed by "# <arrival time>" with `times`.
    BurstConsumer hexLines(bool times);
    // The errno of a write that failed, once the capture has ended.
    int error() const { return m_error.load(); }

private:
    platform::StreamWrite write(const char *data, qint64 size, const std::atomic<bool> &running);

    std::atomic<int> m_error{0};
    std::unique_ptr<HexPrinter> m_printer;
    const std::atomic<bool> *m_running = nullptr; // of the burst being printed
};

class CaptureRun {
public:
    explicit CaptureRun(bool showProgress);

    // Starts the capture and runs it to its end: the exit code. The port is opened first (and
    // waited for with --wait), so that a capture that cannot start leaves the files on disk as
    // they were; why it could not start is printed. The file is complete and closed, the port
    // released when this returns.
    int run(CaptureRequest &request);
    // It started: not refused at its start, nor ended by a signal while it waited for its port.
    bool ran() const { return m_ran; }

    CaptureOutput &output() { return m_output; }
    const QString &path() const { return m_session.path(); }
    qint64 count() const { return m_session.count(); }

private:
    // Empty, or why the capture could not start.
    QString start(CaptureRequest &request);
    serial::OpenedPort openPort(const CaptureRequest &request);
    QString openFile(CaptureRequest &request);
    QString progressText() const;

    QEventLoop m_loop;
    platform::TerminationWatch m_termination;
    std::optional<ProgressLine> m_progress;
    QString m_port;
    bool m_ran = false;
    int m_exitCode = kExitSuccess;
    CaptureOutput m_output;
    // After everything its worker uses: it is destroyed, and its worker joined, first.
    CaptureSession m_session;
};

} // namespace cli
