#include "transmit/send_source.h"

#include "platform/files.h"
#include "platform/streams.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>

namespace transmit {

bool SendSource::open(const QString &path, Streams streams, int *error) {
    close();
    const bool opened =
        streams == Streams::Accepted
            ? platform::openInput(m_file, path, QIODevice::ReadOnly, m_stream, error)
            : platform::openWithoutBlocking(m_file, path, QIODevice::ReadOnly, error);
    if (!opened)
        return false;
    m_ownsStream = m_stream > STDIN_FILENO;
    m_kind = m_stream >= 0 ? Kind::Stream : Kind::File;
    return true;
}

void SendSource::setBytes(const QByteArray &bytes) {
    close();
    m_bytes = bytes;
    m_at = 0;
    m_kind = Kind::Bytes;
}

void SendSource::close() {
    m_file.close();
    if (m_ownsStream)
        ::close(m_stream);
    m_stream = -1;
    m_ownsStream = false;
    m_bytes.clear();
    m_kind = Kind::None;
}

qint64 SendSource::length() const {
    switch (m_kind) {
    case Kind::File:
        return m_file.size();
    case Kind::Bytes:
        return m_bytes.size();
    case Kind::Stream:
        return -1;
    case Kind::None:
        break;
    }
    return 0;
}

qint64 SendSource::read(char *buffer, qint64 capacity, const std::atomic<bool> &running) {
    switch (m_kind) {
    case Kind::File:
        return m_file.read(buffer, capacity);
    case Kind::Bytes: {
        const qint64 n = std::min<qint64>(capacity, m_bytes.size() - m_at);
        std::memcpy(buffer, m_bytes.constData() + m_at, size_t(n));
        m_at += n;
        return n;
    }
    case Kind::Stream: {
        const qint64 n = platform::readStream(m_stream, buffer, capacity, running);
        return n == platform::kStreamStopped ? kStopped : std::max(n, kFailed);
    }
    case Kind::None:
        break;
    }
    return kFailed;
}

} // namespace transmit
