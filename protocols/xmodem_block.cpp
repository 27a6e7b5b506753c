#include "protocols/xmodem_block.h"

#include <algorithm>
#include <array>

namespace protocols {

namespace {

constexpr std::array<std::uint16_t, 256> makeCrcTable() {
    std::array<std::uint16_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        std::uint16_t crc = std::uint16_t(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? std::uint16_t((crc << 1) ^ 0x1021) : std::uint16_t(crc << 1);
        table[std::size_t(i)] = crc;
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> kCrcTable = makeCrcTable();

int checkSize(Check check) {
    return check == Check::Crc16 ? 2 : 1;
}

} // namespace

std::uint16_t crc16(const char *data, qsizetype size) {
    std::uint16_t crc = 0;
    for (qsizetype i = 0; i < size; ++i)
        crc = std::uint16_t((crc << 8) ^ kCrcTable[((crc >> 8) ^ std::uint8_t(data[i])) & 0xFF]);
    return crc;
}

std::uint8_t checksum(const char *data, qsizetype size) {
    unsigned sum = 0;
    for (qsizetype i = 0; i < size; ++i)
        sum += std::uint8_t(data[i]);
    return std::uint8_t(sum);
}

QByteArray frameBlock(std::uint8_t sequence, const char *data, qsizetype size, Check check,
                      char pad) {
    const int blockSize = size > kShortBlock ? kLongBlock : kShortBlock;
    QByteArray block;
    block.reserve(3 + blockSize + 2);
    block.append(blockSize == kLongBlock ? kStx : kSoh);
    block.append(char(sequence));
    block.append(char(~sequence));
    block.append(data, std::min<qsizetype>(size, blockSize));
    block.append(blockSize - std::min<qsizetype>(size, blockSize), pad);
    const char *payload = block.constData() + 3;
    if (check == Check::Crc16) {
        const std::uint16_t crc = crc16(payload, blockSize);
        block.append(char(crc >> 8));
        block.append(char(crc & 0xFF));
    } else {
        block.append(char(checksum(payload, blockSize)));
    }
    return block;
}

QByteArray cancelSequence() {
    return QByteArray(8, kCan) + QByteArray(8, '\b');
}

BlockReader::Kind BlockReader::take(const char *data, qsizetype size, qsizetype &at) {
    while (at < size) {
        if (m_need > 0) {
            const qsizetype n = std::min(m_need, size - at);
            m_block.append(data + at, n);
            at += n;
            m_need -= n;
            if (m_need == 0)
                return finish();
            continue;
        }
        const char byte = data[at++];
        const bool can = byte == kCan;
        if (can && m_sawCan) {
            m_sawCan = false;
            return Kind::Cancel;
        }
        m_sawCan = can;
        if (byte == kEot)
            return Kind::Eot;
        if (byte == kSoh || byte == kStx) {
            m_dataSize = byte == kStx ? kLongBlock : kShortBlock;
            m_block.clear();
            m_block.append(byte);
            m_need = 2 + m_dataSize + checkSize(m_check);
        } else if (!can) {
            ++m_skipped;
        }
    }
    return Kind::None;
}

void BlockReader::reset() {
    m_need = 0;
    m_block.clear();
    m_sawCan = false;
}

BlockReader::Kind BlockReader::finish() {
    m_skipped = 0;
    const auto sequence = std::uint8_t(m_block.at(1));
    const auto complement = std::uint8_t(m_block.at(2));
    if (std::uint8_t(~sequence) != complement)
        return Kind::BadBlock;
    const char *payload = data();
    const char *check = payload + m_dataSize;
    if (m_check == Check::Crc16) {
        const std::uint16_t crc = crc16(payload, m_dataSize);
        const std::uint16_t got =
            std::uint16_t((std::uint8_t(check[0]) << 8) | std::uint8_t(check[1]));
        return crc == got ? Kind::Block : Kind::BadBlock;
    }
    return checksum(payload, m_dataSize) == std::uint8_t(check[0]) ? Kind::Block : Kind::BadBlock;
}

} // namespace protocols
