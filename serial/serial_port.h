// An open serial port: exclusive, raw, non-blocking. Every wait is bounded and looks at the
// caller's run flag, so a worker holding the port can always be stopped.
#pragma once

#include "serial/line_state.h"
#include "serial/port_names.h"
#include "serial/uucp_lock.h"

#include <QString>
#include <QtGlobal>
#include <atomic>
#include <chrono>
#include <optional>

namespace serial {

enum class WriteStatus {
    Complete,       // the kernel took every byte and sent them out
    DeadlinePassed, // `taken` bytes went to the kernel before the time-out
    Stopped,        // the run flag dropped after `taken` bytes
    Failed,         // the port refused (hung up, closed) after `taken` bytes
};

struct WriteResult {
    WriteStatus status = WriteStatus::Failed;
    qint64 taken = 0;
};

enum class Readiness { Readable, TimedOut, HungUp };

class SerialPort {
public:
    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    // Opens the port by the name the user sees (see devicePath).
    bool open(const QString &portName, const QStringList &lockDirs = lockDirectories()) {
        return openDevice(devicePath(portName), lockDirs);
    }
    // Fails for what is not a terminal (ENOTTY) and for a port someone holds (EBUSY): by its
    // exclusive flag, a flock or a live lock file. Holds the port by all three until close.
    bool openDevice(const QString &path, const QStringList &lockDirs = lockDirectories());
    void close();
    bool isOpen() const { return m_fd >= 0; }
    // errno of the last failed open.
    int openError() const { return m_openError; }

    std::optional<LineState> lineState() const;
    // Applies the settings and reports whether the driver kept them, read back from the port.
    bool configure(const LineSettings &settings);
    // Drops both queues.
    bool purge();
    // These fail (false) where the driver has no modem lines or no RS485, as on a pty.
    bool setDtr(bool on);
    bool setRts(bool on);
    bool enableRs485();

    // Bytes queued for reading; -1 when the port is gone.
    qint64 bytesAvailable() const;
    // Takes what is queued, up to capacity, without waiting: the count, 0 for none, -1 on error.
    qint64 read(char *buffer, qint64 capacity);
    // Waits up to timeoutMs for input. After a hang-up this returns at once every time (once
    // the bytes that came before it are read), so a caller keeps its own pace.
    Readiness waitReadable(int timeoutMs) const;
    // Writes without ever blocking for long: towards the time-out (none: until done or the run
    // flag drops), looking at the run flag at least every 50 ms; complete once the output
    // queue is empty as well.
    WriteResult write(const char *data, qint64 size,
                      std::optional<std::chrono::milliseconds> timeout,
                      const std::atomic<bool> &running);

private:
    class Deadline;
    WriteResult pushBytes(const char *data, qint64 size, const Deadline &deadline,
                          const std::atomic<bool> &running) const;
    WriteStatus waitDrained(const Deadline &deadline, const std::atomic<bool> &running) const;
    bool setModemLine(int line, bool on);

    int m_fd = -1;
    int m_openError = 0;
    UucpLock m_lock;
    std::atomic<std::uint32_t> m_lineRate{0};
    // False for a pseudo-terminal, whose output queue is always empty.
    bool m_hasOutputQueue = true;
};

// Whether openDevice would take the port now, found without changing anything on it: no
// setting, no exclusive flag, no lock file.
bool probeDevice(const QString &path, const QStringList &lockDirs = lockDirectories());

} // namespace serial
