// Helpers of every test program, widget-free: a pseudo-terminal as the serial device,
// waiting with a deadline while the event loop runs, and whole files.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

namespace testsupport {

// Gives this process, and the programs it starts, pseudo-terminals of their own: a new mount
// namespace with a devpts instance of its own on /dev/pts. The kernel hands out the lowest free
// number, so a pty the test just opened often has the name of one that went a moment before,
// and any program on the machine still opening that name (a capture waiting for its unplugged
// device, a scan, another test suite's) would take the test's device. Needs root; false, with
// the machine's /dev/pts kept, where it cannot be had. Call it before any thread starts.
bool usePrivatePseudoTerminals();

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
