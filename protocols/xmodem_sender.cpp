#include "protocols/xmodem_sender.h"

#include "protocols/ymodem_header.h"

#include <algorithm>

namespace protocols {

int nextBlockSize(Protocol protocol, Check check, qint64 left) {
    if (protocol == Protocol::Xmodem || check == Check::Sum)
        return kShortBlock;
    // The rest as blocks of 128 pads just as much as one block of 1024 when it is longer than
    // 896 bytes; a shorter rest pads less in blocks of 128.
    return left > kLongBlock - kShortBlock ? kLongBlock : kShortBlock;
}

XmodemSender::XmodemSender(Protocol protocol, std::vector<SendFile> files, FileReader read,
                           Timing timing)
    : m_protocol(protocol), m_files(std::move(files)), m_read(std::move(read)), m_timing(timing),
      m_buffer(kLongBlock) {
    if (m_protocol == Protocol::Xmodem1k || m_protocol == Protocol::Xmodem)
        m_files.resize(std::min<std::size_t>(m_files.size(), 1));
    m_next = m_protocol == Protocol::Ymodem ? Next::Header : Next::Data;
}

void XmodemSender::start(TimePoint now) {
    m_startBy = now + m_timing.startWait;
    m_state = State::WaitStart;
    setDeadline(m_startBy);
    if (m_protocol != Protocol::Ymodem)
        beginFile();
}

void XmodemSender::beginFile() {
    m_offset = 0;
    m_sequence = 0;
    m_progress.file = m_file;
    m_progress.bytes = 0;
    const SendFile &file = m_files.at(std::size_t(m_file));
    emitEvent({Event::Kind::FileBegun, file.name, file.size, file.mtime});
}

void XmodemSender::feed(const char *data, qsizetype size, TimePoint now) {
    for (qsizetype i = 0; i < size && !ended(); ++i) {
        const char byte = data[i];
        m_cans = byte == kCan ? m_cans + 1 : 0;
        if (m_cans >= 2) {
            fail(QStringLiteral("The receiver cancelled"), false);
            return;
        }
        if (m_state == State::WaitStart) {
            if (byte == kCrcStart || byte == kNak)
                onStart(byte, now);
        } else if (byte == kAck) {
            onAck(now);
        } else if (byte == kNak) {
            retry(now);
        }
        // Anything else (the receiver's repeated start signal among it) is noise.
    }
}

void XmodemSender::tick(TimePoint now) {
    if (ended())
        return;
    if (m_state != State::WaitStart) {
        retry(now);
        return;
    }
    if (!m_started || ++m_retries > kMaxRetries)
        fail(QStringLiteral("No answer from the receiver"), m_started);
    else
        setDeadline(now + m_timing.blockWait);
}

void XmodemSender::onStart(char signal, TimePoint now) {
    if (!m_started)
        m_check = signal == kCrcStart ? Check::Crc16 : Check::Sum;
    m_started = true;
    m_retries = 0;
    if (m_next == Next::Header) {
        const SendFile &file = m_files.at(std::size_t(m_file));
        const QByteArray header = headerBytes({file.name, file.size, file.mtime});
        m_block = frameBlock(0, header.constData(), header.size(), m_check, '\0');
        m_pending = 0;
    } else if (m_next == Next::BatchEnd) {
        m_block = frameBlock(0, "", 0, m_check, '\0');
        m_pending = 0;
    } else if (!frameNextData()) {
        return;
    }
    sendCurrent(now);
}

// The block after m_offset, or the EOT when the file is all out.
bool XmodemSender::frameNextData() {
    const SendFile &file = m_files.at(std::size_t(m_file));
    const qint64 left = file.size - m_offset;
    if (left <= 0) {
        m_block = QByteArray(1, kEot);
        m_pending = 0;
        m_state = State::WaitEotAck;
        return true;
    }
    const qint64 size = std::min<qint64>(nextBlockSize(m_protocol, m_check, left), left);
    if (m_read(m_file, m_offset, m_buffer.data(), size) != size) {
        fail(QStringLiteral("Could not read file ") + QString::fromUtf8(file.name), true);
        return false;
    }
    ++m_sequence;
    // More than 128 bytes make a block of 1024.
    m_block = frameBlock(std::uint8_t(m_sequence), m_buffer.data(), size, m_check);
    m_pending = size;
    m_state = State::WaitAck;
    return true;
}

void XmodemSender::sendCurrent(TimePoint now) {
    if (m_state == State::WaitStart)
        m_state = State::WaitAck;
    send(m_block);
    setDeadline(now + m_timing.blockWait);
}

void XmodemSender::onAck(TimePoint now) {
    m_retries = 0;
    if (m_state == State::WaitEotAck) {
        fileSent(now);
        return;
    }
    if (m_next == Next::BatchEnd) {
        succeed();
        return;
    }
    if (m_next == Next::Header) {
        beginFile();
        m_next = Next::Data;
        waitForStart(now);
        return;
    }
    m_offset += m_pending;
    m_progress.bytes = m_offset;
    m_progress.total += m_pending;
    ++m_progress.block;
    if (frameNextData())
        sendCurrent(now);
}

void XmodemSender::fileSent(TimePoint now) {
    emitEvent({Event::Kind::FileEnded, m_files.at(std::size_t(m_file)).name,
               m_files.at(std::size_t(m_file)).size});
    if (m_protocol != Protocol::Ymodem) {
        succeed();
        return;
    }
    ++m_file;
    m_next = m_file < int(m_files.size()) ? Next::Header : Next::BatchEnd;
    waitForStart(now);
}

// YMODEM's receiver gives a start signal for each file's data and for each block 0.
void XmodemSender::waitForStart(TimePoint now) {
    m_state = State::WaitStart;
    setDeadline(now + m_timing.blockWait);
}

void XmodemSender::retry(TimePoint now) {
    if (m_state == State::WaitStart)
        return;
    // Receivers answer the first EOT with NAK to make sure of it: no error.
    if (m_state != State::WaitEotAck || m_retries > 0)
        ++m_progress.retries;
    if (++m_retries > kMaxRetries) {
        fail(QStringLiteral("Too many errors in ") + blockName(), true);
        return;
    }
    send(m_block);
    setDeadline(now + m_timing.blockWait);
}

QString XmodemSender::blockName() const {
    if (m_state == State::WaitEotAck)
        return QStringLiteral("the end of the file");
    if (m_next != Next::Data)
        return QStringLiteral("block 0");
    return QStringLiteral("block %1").arg(m_sequence);
}

} // namespace protocols
