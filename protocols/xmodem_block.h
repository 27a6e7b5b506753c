// The bytes XMODEM and YMODEM put on the line: the control bytes, the two checks, a block as a
// sender frames it, and the reader that finds blocks in what a receiver is given.
#pragma once

#include <QByteArray>
#include <cstdint>

namespace protocols {

inline constexpr char kSoh = 0x01; // a block of 128 bytes follows
inline constexpr char kStx = 0x02; // a block of 1024 bytes follows
inline constexpr char kEot = 0x04;
inline constexpr char kAck = 0x06;
inline constexpr char kNak = 0x15;
inline constexpr char kCan = 0x18;
inline constexpr char kCrcStart = 'C';
inline constexpr char kPadding = 0x1A; // fills the last block of a file
inline constexpr int kShortBlock = 128;
inline constexpr int kLongBlock = 1024;
// Retries of one block (or of the start, or of the end) before the transfer gives up.
inline constexpr int kMaxRetries = 10;

enum class Check { Sum, Crc16 };

// CRC-16/XMODEM (polynomial 0x1021, initial value 0).
std::uint16_t crc16(const char *data, qsizetype size);
std::uint8_t checksum(const char *data, qsizetype size);

// SOH or STX, the sequence byte and its complement, the data padded with `pad` to the block's
// size (128 unless more than 128 bytes are given), and the check.
QByteArray frameBlock(std::uint8_t sequence, const char *data, qsizetype size, Check check,
                      char pad = kPadding);

// The 8 CAN bytes that stop the other side, then as many backspaces to clear them from a
// terminal's line on a device that was not in a transfer after all.
QByteArray cancelSequence();

// Reads blocks out of the received bytes, a little at a time: garbage before a block's first
// byte is skipped, a block whose check fails is reported as bad. Holds at most one block.
class BlockReader {
public:
    enum class Kind {
        None,     // more bytes are needed
        Block,    // a whole block, its check right: sequence() and data()
        BadBlock, // a whole block whose check or sequence complement is wrong
        Eot,
        Cancel, // two CAN in a row where a block would begin
    };

    void setCheck(Check check) { m_check = check; }
    Check check() const { return m_check; }
    // Takes bytes from data[at..size) until something is found; `at` moves past what was used.
    Kind take(const char *data, qsizetype size, qsizetype &at);
    // Drops a block begun and not finished (after a silence on the line).
    void reset();
    bool inBlock() const { return m_need > 0; }
    std::uint8_t sequence() const { return std::uint8_t(m_block.at(1)); }
    const char *data() const { return m_block.constData() + 3; }
    int dataSize() const { return m_dataSize; }
    // Bytes skipped as garbage since the last block (or clearSkipped).
    qint64 skipped() const { return m_skipped; }
    void clearSkipped() { m_skipped = 0; }

private:
    Kind finish();

    Check m_check = Check::Crc16;
    QByteArray m_block;
    qsizetype m_need = 0; // bytes still missing of the block begun
    int m_dataSize = 0;
    bool m_sawCan = false;
    qint64 m_skipped = 0;
};

} // namespace protocols
