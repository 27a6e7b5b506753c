// The receiving side of XMODEM (and XMODEM-1K: blocks of either size are taken) and of YMODEM
// batches. It asks for CRC with "C" (XMODEM falls back to the checksum after three tries), skips
// garbage before a block, acknowledges a repeated block without giving its bytes twice, cuts a
// YMODEM file to the length of its block 0, and ends on a block out of order.
#pragma once

#include "protocols/transfer_machine.h"
#include "protocols/xmodem_block.h"

namespace protocols {

class XmodemReceiver : public TransferMachine {
public:
    // Protocol::Ymodem receives a batch; any other, one XMODEM file.
    explicit XmodemReceiver(Protocol protocol, Timing timing = {});

    void start(TimePoint now) override;
    void feed(const char *data, qsizetype size, TimePoint now) override;
    void tick(TimePoint now) override;

    // The XMODEM file keeps the padding of its last block.
    bool padded() const { return !m_ymodem; }

private:
    enum class State { Starting, Header, Data };

    void sendStartSignal(TimePoint now);
    void onBlock(TimePoint now);
    void onHeader(TimePoint now);
    void onData();
    void onEot(TimePoint now);
    void onError(TimePoint now, bool silence);
    void answer(char byte, TimePoint now);
    void expectHeader(TimePoint now);
    void armDeadline();
    qint64 blockNumber() const { return m_state == State::Header ? 0 : m_fileBlocks + 1; }

    bool m_ymodem;
    Timing m_timing;
    BlockReader m_reader;
    State m_state = State::Starting;
    TimePoint m_startBy{};
    TimePoint m_lastAnswer{};
    TimePoint m_lastByte{};
    int m_startSignals = 0;
    std::uint8_t m_expected = 1; // the sequence byte of the next block
    bool m_haveBlock = false;    // a block of this file was taken (a repeat of it may come)
    qint64 m_size = -1;          // the YMODEM file's length, -1 when not given
    qint64 m_received = 0;       // bytes of the current file given out
    bool m_eotSeen = false;      // one EOT was answered with NAK and nothing came since
    qint64 m_fileBlocks = 0;     // blocks of the current file taken
    int m_retries = 0;
};

} // namespace protocols
