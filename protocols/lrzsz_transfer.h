// ZMODEM by lrzsz: its sz or rz runs as a child of the transfer's worker, which carries the
// bytes between the child's pipes and the port (any port: local or across the network), reads
// the child's progress from its standard error and takes its exit status as the verdict.
#pragma once

#include "protocols/transfer_result.h"
#include "serial/port.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>

namespace protocols {

inline const QString kNeedsLrzsz = QStringLiteral("ZMODEM needs lrzsz (sz, rz)");

// What sz and rz say on standard error: "Sending: NAME" or "Receiving: NAME", then lines of
// "Bytes Sent: N/ SIZE ..." or "Bytes received: N/ SIZE ...", ended by CR or LF. Keeps at most
// one line of kMaxLine bytes; a longer one is cut.
class LrzszProgress {
public:
    static constexpr qsizetype kMaxLine = 512;
    // True when the progress changed.
    bool feed(const char *data, qsizetype size);
    const QString &file() const { return m_file; }
    qint64 bytes() const { return m_bytes; }
    qint64 size() const { return m_size; }
    int files() const { return m_files; }
    // The last line that was not progress: what the child said last.
    const QString &lastWords() const { return m_lastWords; }

private:
    bool line(const QByteArray &text);

    QByteArray m_line;
    QString m_file;
    QString m_lastWords;
    qint64 m_bytes = 0;
    qint64 m_size = -1;
    int m_files = 0;
};

// The lrzsz program of this direction on PATH, empty without it.
QString lrzszProgram(Direction direction);

using ProgressSink = std::function<void(const TransferProgress &)>;

// Runs the transfer until the child ends, the port fails or `running` drops (the other side is
// sent the cancel sequence and the child is ended). Received files go first into a private
// folder inside the directory, then each into the directory under its first free name, with
// ".part" when the transfer failed.
TransferResult runLrzsz(serial::Port &port, const TransferOptions &options,
                        const std::atomic<bool> &running, const ProgressSink &progress);

} // namespace protocols
