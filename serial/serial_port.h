// A local serial port (a terminal device): exclusive, raw, non-blocking.
#pragma once

#include "serial/line_state.h"
#include "serial/port.h"
#include "serial/port_names.h"
#include "serial/uucp_lock.h"

#include <QString>
#include <QtGlobal>
#include <atomic>
#include <chrono>
#include <optional>

namespace serial {

class SerialPort final : public Port {
public:
    SerialPort() = default;
    ~SerialPort() override;
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    // Opens the port by the name the user sees (see devicePath).
    bool open(const QString &portName, const QStringList &lockDirs = lockDirectories()) {
        return openDevice(devicePath(portName), lockDirs);
    }
    // Fails for what is not a terminal (ENOTTY) and for a port someone holds (EBUSY): by its
    // exclusive flag, a flock or a lock file. The flock and the lock file are looked at before
    // the device is opened, since an open raises the holder's DTR and RTS (and resets a board
    // with an auto-reset circuit). Holds the port by all three until close.
    bool openDevice(const QString &path, const QStringList &lockDirs = lockDirectories());
    void close() override;
    bool isOpen() const override { return m_fd >= 0; }
    // errno of the last failed open.
    int openError() const { return m_openError; }

    std::optional<LineState> lineState() const;
    // What the driver kept is read back from the port, not taken from the result of the call.
    QStringList configure(const LineSettings &settings) override;
    bool purge() override;
    qint64 dropOutput() override;
    bool setDtr(bool on) override;
    bool setRts(bool on) override;
    bool enableRs485() override;
    bool setBreak(bool on) override;
    std::optional<InputLines> inputLines() const override;

    // Bytes queued for reading; -1 when the port is gone.
    qint64 bytesAvailable() const;
    qint64 read(char *buffer, qint64 capacity) override;
    using Port::waitReadable;
    Readiness waitReadable(int timeoutMs, platform::WakeSet *wake) override;
    // Complete once the output queue is empty as well.
    WriteResult write(const char *data, qint64 size,
                      std::optional<std::chrono::milliseconds> timeout,
                      const std::atomic<bool> &running) override;
    Completion completion() const override {
        return m_hasOutputQueue ? Completion::OnTheLine : Completion::InKernelBuffer;
    }

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
// setting, no exclusive flag, no lock file. A port that looks free is opened and closed again,
// which raises its DTR and RTS for that moment; a held one is not opened.
bool probeDevice(const QString &path, const QStringList &lockDirs = lockDirectories());

} // namespace serial
