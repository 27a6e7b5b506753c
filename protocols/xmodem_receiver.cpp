#include "protocols/xmodem_receiver.h"

#include "protocols/ymodem_header.h"

#include <algorithm>

namespace protocols {

namespace {

// XMODEM asks for CRC this many times before it asks for the checksum.
constexpr int kCrcTries = 3;

} // namespace

XmodemReceiver::XmodemReceiver(Protocol protocol, Timing timing)
    : m_ymodem(protocol == Protocol::Ymodem), m_timing(timing) {}

void XmodemReceiver::start(TimePoint now) {
    m_startBy = now + m_timing.startWait;
    m_state = State::Starting;
    m_expected = m_ymodem ? 0 : 1;
    sendStartSignal(now);
}

void XmodemReceiver::sendStartSignal(TimePoint now) {
    const bool crc = m_ymodem || m_startSignals < kCrcTries;
    ++m_startSignals;
    m_reader.setCheck(crc ? Check::Crc16 : Check::Sum);
    send(crc ? kCrcStart : kNak);
    m_lastAnswer = now;
    setDeadline(std::min(now + m_timing.startInterval, m_startBy));
}

void XmodemReceiver::feed(const char *data, qsizetype size, TimePoint now) {
    if (size > 0)
        m_lastByte = now;
    qsizetype at = 0;
    while (at < size && !ended()) {
        const BlockReader::Kind kind = m_reader.take(data, size, at);
        if (kind == BlockReader::Kind::Cancel) {
            fail(QStringLiteral("The sender cancelled"), false);
        } else if (kind == BlockReader::Kind::Eot) {
            // Only an EOT right after the NAK of the first one ends the file.
            if (m_reader.skipped() > 0)
                m_eotSeen = false;
            m_reader.clearSkipped();
            onEot(now);
            // What follows an EOT before its answer is noise.
            at = size;
        } else if (kind == BlockReader::Kind::BadBlock) {
            onError(now, false);
            // The rest of what came is part of the broken block or noise after it.
            at = size;
        } else if (kind == BlockReader::Kind::Block) {
            onBlock(now);
        }
        if (kind != BlockReader::Kind::None && kind != BlockReader::Kind::Eot)
            m_eotSeen = false;
    }
    if (!ended())
        armDeadline();
}

void XmodemReceiver::armDeadline() {
    if (m_state == State::Starting)
        return;
    if (m_reader.inBlock())
        setDeadline(std::max(m_lastByte, m_lastAnswer) + m_timing.byteGap);
    else
        setDeadline(m_lastAnswer + m_timing.blockWait);
}

void XmodemReceiver::tick(TimePoint now) {
    if (ended())
        return;
    if (m_state == State::Starting) {
        if (now >= m_startBy)
            fail(QStringLiteral("No answer from the sender"), true);
        else
            sendStartSignal(now);
        return;
    }
    const bool silence = !m_reader.inBlock();
    m_reader.reset();
    onError(now, silence);
}

void XmodemReceiver::onError(TimePoint now, bool silence) {
    ++m_progress.retries;
    if (m_state == State::Starting)
        m_state = m_ymodem ? State::Header : State::Data;
    if (++m_retries > kMaxRetries) {
        fail(silence ? QStringLiteral("No answer from the sender")
                     : QStringLiteral("Too many errors in block %1").arg(blockNumber()),
             true);
        return;
    }
    // Until a file's first block has come, a NAK could be taken for the request of the
    // checksum: block 0 and first blocks sent with CRC are asked for with "C" again.
    const bool askWithC = (m_ymodem && m_state == State::Header) ||
                          (!m_haveBlock && m_reader.check() == Check::Crc16);
    answer(askWithC ? kCrcStart : kNak, now);
}

void XmodemReceiver::answer(char byte, TimePoint now) {
    send(byte);
    m_lastAnswer = now;
    setDeadline(now + m_timing.blockWait);
}

void XmodemReceiver::onBlock(TimePoint now) {
    const std::uint8_t sequence = m_reader.sequence();
    if (m_state == State::Starting)
        m_state = m_ymodem ? State::Header : State::Data;
    if (sequence == m_expected) {
        m_retries = 0;
        if (m_state == State::Header) {
            onHeader(now);
            return;
        }
        onData();
        if (ended())
            return;
        ++m_expected;
        answer(kAck, now);
        return;
    }
    // The sender did not hear the ACK of the last block, or of block 0: acknowledged again,
    // its bytes not given twice.
    const bool repeatedHeader = m_ymodem && m_state == State::Data && !m_haveBlock && sequence == 0;
    if (repeatedHeader || (m_haveBlock && sequence == std::uint8_t(m_expected - 1))) {
        answer(kAck, now);
        if (repeatedHeader)
            send(kCrcStart);
        return;
    }
    fail(QStringLiteral("Wrong block number in block %1").arg(blockNumber()), true);
}

void XmodemReceiver::onHeader(TimePoint now) {
    const std::optional<FileHeader> header = parseHeader(m_reader.data(), m_reader.dataSize());
    if (!header) {
        onError(now, false);
        return;
    }
    if (header->name.isEmpty()) {
        answer(kAck, now);
        succeed();
        return;
    }
    m_size = header->size;
    m_received = 0;
    m_haveBlock = false;
    m_fileBlocks = 0;
    m_expected = 1;
    m_state = State::Data;
    m_progress.bytes = 0;
    emitEvent({Event::Kind::FileBegun, header->name, header->size, header->mtime});
    answer(kAck, now);
    send(kCrcStart);
}

void XmodemReceiver::onData() {
    qint64 take = m_reader.dataSize();
    if (m_size >= 0) {
        if (m_received >= m_size) {
            fail(QStringLiteral("Block %1 lies beyond the length of the file").arg(blockNumber()),
                 true);
            return;
        }
        take = std::min(take, m_size - m_received);
    }
    Event event{Event::Kind::Data};
    event.data = QByteArray(m_reader.data(), take);
    emitEvent(std::move(event));
    m_haveBlock = true;
    ++m_fileBlocks;
    m_received += take;
    m_progress.bytes = m_received;
    m_progress.total += take;
    ++m_progress.block;
}

// The first EOT is answered with NAK: a sender that really ended sends it again at once, and an
// EOT that was a damaged byte does not end the file early.
void XmodemReceiver::onEot(TimePoint now) {
    if (m_state != State::Data || !m_eotSeen) {
        m_eotSeen = m_state == State::Data || (m_state == State::Starting && !m_ymodem);
        if (m_state == State::Starting && !m_ymodem)
            m_state = State::Data;
        answer(kNak, now);
        return;
    }
    m_eotSeen = false;
    if (m_size >= 0 && m_received < m_size) {
        fail(QStringLiteral("The sender ended the file after %1 of its %2 bytes")
                 .arg(m_received)
                 .arg(m_size),
             true);
        return;
    }
    answer(kAck, now);
    emitEvent({Event::Kind::FileEnded, {}, m_received});
    if (!m_ymodem) {
        succeed();
        return;
    }
    expectHeader(now);
}

void XmodemReceiver::expectHeader(TimePoint now) {
    m_state = State::Header;
    m_expected = 0;
    m_retries = 0;
    ++m_progress.file;
    send(kCrcStart);
    m_lastAnswer = now;
    setDeadline(now + m_timing.blockWait);
}

} // namespace protocols
