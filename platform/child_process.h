// A program run as a child with pipes on its standard input, output and error: started with an
// argument list (never through a shell), in a process group of its own (a Ctrl-C meant for this
// program does not reach it), and never left behind: the destructor ends and reaps it.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <optional>

#include "platform/wake_event.h"
#include <sys/types.h>
#include <vector>

namespace platform {

// A program and its arguments as execve and posix_spawn take them (local encoding, a null at
// the end), valid as long as this object lives.
class ArgumentVector {
public:
    explicit ArgumentVector(const QStringList &words);
    char *const *data() { return m_pointers.data(); }
    const char *program() const { return m_words.front().constData(); }

private:
    std::vector<QByteArray> m_words;
    std::vector<char *> m_pointers;
};

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // The program's path when it is on PATH; empty otherwise.
    static QString find(const QString &program);

    // Starts the program in `directory`; empty, or why not.
    QString start(const QString &program, const QStringList &arguments,
                  const QString &directory = {});
    bool running() const { return m_pid > 0 && !m_status; }

    struct Ready {
        bool output = false;   // its standard output has bytes (or was closed)
        bool errors = false;   // its standard error has bytes (or was closed)
        bool writable = false; // its standard input takes bytes
    };
    // Waits up to timeoutMs for one of these.
    Ready wait(int timeoutMs, bool wantWrite);
    // Its standard output and error, for a wait on them beside another descriptor.
    WakeSet readable() const {
        WakeSet set;
        set.fds = {m_output, m_errors};
        return set;
    }
    // Without waiting: the count, 0 for nothing now, -1 at the end of the stream or an error.
    qint64 readOutput(char *into, qint64 capacity) { return readFrom(m_output, into, capacity); }
    qint64 readErrors(char *into, qint64 capacity) { return readFrom(m_errors, into, capacity); }
    // Without waiting: the count taken, -1 when the child no longer reads.
    qint64 writeInput(const char *data, qint64 size);
    void closeInput();

    // Its exit code (128 + the signal for a child killed by one) once it has ended; reaps it.
    std::optional<int> exitStatus();
    // Waits up to timeoutMs for the end.
    std::optional<int> waitForExit(int timeoutMs);
    // SIGTERM, and SIGKILL after graceMs; reaped when this returns.
    void terminate(int graceMs = 1000);

private:
    qint64 readFrom(int &fd, char *into, qint64 capacity);
    void closeAll();

    pid_t m_pid = -1;
    std::optional<int> m_status;
    int m_input = -1;
    int m_output = -1;
    int m_errors = -1;
};

} // namespace platform
