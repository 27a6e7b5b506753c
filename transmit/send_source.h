// Where the bytes of a send come from: a plain file (the window's only kind), a stream (standard
// input, a FIFO given by name: the command line's) or bytes held in memory (given on the command
// line). A stream is read as it comes, with waits the run flag ends, and has no length.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtGlobal>
#include <atomic>

namespace transmit {

class SendSource {
public:
    SendSource() = default;
    ~SendSource() { close(); }
    SendSource(const SendSource &) = delete;
    SendSource &operator=(const SendSource &) = delete;

    // A plain file, opened without blocking. A FIFO is refused, or with Streams::Accepted read
    // as it comes (its writer may come later), and "-" is standard input then. False with the
    // errno in `error`.
    enum class Streams { Refused, Accepted };
    bool open(const QString &path, Streams streams, int *error);
    void setBytes(const QByteArray &bytes);
    void close();

    bool isOpen() const { return m_kind != Kind::None; }
    bool isStream() const { return m_kind == Kind::Stream; }
    // The bytes there are to send as far as known now: a file may grow while it is sent;
    // -1 for a stream.
    qint64 length() const;

    // What read gives besides a count: 0 at the end.
    static constexpr qint64 kFailed = -1;
    static constexpr qint64 kStopped = -2; // a stream's wait ended by the run flag
    // Up to capacity bytes: a file's and the memory's at once, a stream's as soon as some came.
    qint64 read(char *buffer, qint64 capacity, const std::atomic<bool> &running);

private:
    enum class Kind { None, File, Stream, Bytes };
    Kind m_kind = Kind::None;
    QFile m_file;
    int m_stream = -1;
    bool m_ownsStream = false; // standard input stays open
    QByteArray m_bytes;
    qsizetype m_at = 0;
};

} // namespace transmit
