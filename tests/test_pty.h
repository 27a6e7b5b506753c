// Helpers of every test program, widget-free: a pseudo-terminal as the serial device,
// waiting with a deadline while the event loop runs, and whole files.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

namespace testsupport {

// A pseudo-terminal pair: the program opens slavePath as its port, the test plays the device
// on the master side.
class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;
    int master() const { return m_master; }
    const QString &slavePath() const { return m_slavePath; }
    // Writes all bytes to the master side.
    void write(const QByteArray &bytes);
    // Reads what the program wrote, waiting up to timeoutMs for at least `atLeast` bytes.
    QByteArray read(int atLeast, int timeoutMs = 5000);
    // Closes the device side (the program sees a hang-up).
    void closeMaster();

private:
    int m_master = -1;
    int m_keepSlave = -1; // keeps the pty alive while the program closes and reopens it
    QString m_slavePath;
};

// Runs the event loop until cond() holds or the time is up; returns cond().
bool waitUntil(const std::function<bool()> &cond, int timeoutMs = 5000);

QByteArray readFile(const QString &path);
void writeFile(const QString &path, const QByteArray &bytes);

} // namespace testsupport
