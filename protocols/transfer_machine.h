// What every protocol's state machine has in common. A machine does no input or output: it is
// fed the bytes that arrived and the time, and answers with the bytes to write, the time by
// which it wants to be asked again (tick) and what happened (events). The transfer session
// drives it on a port; tests drive it with recorded streams.
#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>
#include <optional>
#include <vector>

namespace protocols {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

enum class Protocol { Xmodem, Xmodem1k, Ymodem, Zmodem };
// "xmodem", "xmodem-1k", "ymodem", "zmodem"; none for anything else.
std::optional<Protocol> protocolFromName(const QString &name);
QString protocolName(Protocol protocol);  // "xmodem"...
QString protocolTitle(Protocol protocol); // "XMODEM"...
bool isBatch(Protocol protocol);          // several files, named by the sender

// The waits of a transfer. The defaults are the protocols' own; tests shorten them.
struct Timing {
    std::chrono::milliseconds startWait{60000};    // for the other side to start
    std::chrono::milliseconds blockWait{10000};    // for each answer or block after that
    std::chrono::milliseconds startInterval{3000}; // the receiver repeats its start signal
    std::chrono::milliseconds byteGap{1000};       // silence inside a block: the rest is lost
};

// The end texts.
inline const QString kComplete = QStringLiteral("Transfer complete");
inline const QString kAborted = QStringLiteral("Transfer aborted");

struct Event {
    enum class Kind {
        FileBegun, // a file starts: name (a receiver's: as sent), size (-1: not known), mtime
        Data,      // a receiver's bytes for the file begun, in order, each byte once
        FileEnded, // the file is complete
        Done,      // the transfer is complete
        Failed,    // the transfer ended without being complete: reason
    };
    Kind kind = Kind::Done;
    QByteArray name{};
    qint64 size = -1;
    qint64 mtime = 0;
    QByteArray data{};
    QString reason{};
};

struct Progress {
    int file = 0;     // the file in the batch, from 0
    qint64 block = 0; // blocks acknowledged (sent) or taken (received)
    qint64 bytes = 0; // of the current file
    qint64 total = 0; // of the whole transfer
    int retries = 0;  // of the whole transfer
};

class TransferMachine {
public:
    virtual ~TransferMachine() = default;

    // The transfer begins now (a receiver sends its start signal).
    virtual void start(TimePoint now) = 0;
    // Bytes from the other side.
    virtual void feed(const char *data, qsizetype size, TimePoint now) = 0;
    // The deadline has come.
    virtual void tick(TimePoint now) = 0;

    // Ends the transfer from this side: the other side is sent the cancel sequence, the end is
    // `reason`. Nothing happens when the transfer has ended already.
    void cancel(const QString &reason = kAborted);

    QByteArray takeOutput();
    std::vector<Event> takeEvents();
    // When tick is due; none once the transfer has ended.
    std::optional<TimePoint> deadline() const;
    bool ended() const { return m_ended; }
    const Progress &progress() const { return m_progress; }

protected:
    void send(const QByteArray &bytes) { m_output += bytes; }
    void send(char byte) { m_output += byte; }
    void emitEvent(Event event) { m_events.push_back(std::move(event)); }
    void setDeadline(TimePoint at) { m_deadline = at; }
    void succeed();
    // Ends with the reason; the cancel sequence goes out first when the other side is still
    // going (it did not cancel itself).
    void fail(const QString &reason, bool cancelOther);

    Progress m_progress;

private:
    QByteArray m_output;
    std::vector<Event> m_events;
    TimePoint m_deadline{};
    bool m_ended = false;
};

} // namespace protocols
