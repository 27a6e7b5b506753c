// Helpers shared by the test programs: pseudo-terminals as serial devices, waiting with a
// deadline while the event loop runs, and a recorder for message boxes.
#pragma once

#include "platform/ui.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class TerminalDialog;

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

// Installs an answerer for message boxes for the life of the object and records them.
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    const std::vector<platform::MessageRecord> &messages() const { return m_messages; }
    QString lastText() const { return m_messages.empty() ? QString() : m_messages.back().text; }
    void clear() { m_messages.clear(); }

private:
    std::vector<platform::MessageRecord> m_messages;
};

// A main window after its start-up (libkalvosan.so loaded from the test's directory), with
// the settings of earlier tests cleared first; null when the start-up failed. With startDir,
// the window is started in that directory, as if the program had been started there.
std::unique_ptr<TerminalDialog> startedDialog(bool show = true, const QString &startDir = {});

// Whether this process holds path open (one of its descriptors names it).
bool openInThisProcess(const QString &path);

QByteArray readFile(const QString &path);
void writeFile(const QString &path, const QByteArray &bytes);

} // namespace testsupport
