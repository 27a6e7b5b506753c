// The sending side of XMODEM (blocks of 128 bytes, checksum or CRC as the receiver asks),
// XMODEM-1K (blocks of 1024, the last short part in blocks of 128 where that pads less) and
// YMODEM (a batch: block 0 with each file's name, length and time, blocks of 1024, the empty
// block 0 at the end).
#pragma once

#include "protocols/transfer_machine.h"
#include "protocols/xmodem_block.h"

#include <QByteArray>
#include <cstdint>
#include <functional>
#include <vector>

namespace protocols {

struct SendFile {
    QByteArray name; // the name YMODEM sends (a plain file name)
    qint64 size = 0;
    qint64 mtime = 0;
};

// Reads `size` bytes of file `file` from `offset` into `into`: the count read, -1 on failure.
using FileReader = std::function<qint64(int file, qint64 offset, char *into, qint64 size)>;

// The size of the next data block with `left` bytes to go: 1024 while the rest fills most of
// one, 128 for a rest that fits in blocks of 128 with less padding (and always with a checksum,
// which blocks of 1024 do not carry).
int nextBlockSize(Protocol protocol, Check check, qint64 left);

class XmodemSender : public TransferMachine {
public:
    // XMODEM sends files[0] only.
    XmodemSender(Protocol protocol, std::vector<SendFile> files, FileReader read,
                 Timing timing = {});

    void start(TimePoint now) override;
    void feed(const char *data, qsizetype size, TimePoint now) override;
    void tick(TimePoint now) override;

private:
    enum class State { WaitStart, WaitAck, WaitEotAck };
    // What the receiver's start signal is waited for: a file's block 0 (YMODEM), its first
    // data block, or the empty block 0 that ends the batch.
    enum class Next { Header, Data, BatchEnd };

    void onStart(char signal, TimePoint now);
    void onAck(TimePoint now);
    void retry(TimePoint now);
    void sendCurrent(TimePoint now);
    void beginFile();
    bool frameNextData();
    void fileSent(TimePoint now);
    void waitForStart(TimePoint now);
    QString blockName() const;

    Protocol m_protocol;
    std::vector<SendFile> m_files;
    FileReader m_read;
    Timing m_timing;
    State m_state = State::WaitStart;
    Next m_next = Next::Data;
    Check m_check = Check::Crc16;
    bool m_started = false; // the receiver has given its first start signal
    TimePoint m_startBy{};
    int m_file = 0;
    qint64 m_offset = 0;   // of the current file, acknowledged
    qint64 m_pending = 0;  // data bytes in the block waiting for its ACK
    qint64 m_sequence = 0; // of the block waiting for its ACK, counted from the file's start
    QByteArray m_block;    // the framed block (or EOT) waiting for its answer
    int m_retries = 0;     // of that block
    int m_cans = 0;        // CAN bytes in a row
    std::vector<char> m_buffer;
};

} // namespace protocols
