// Telnet as a serial-port client speaks it (RFC 854, binary transmission of RFC 856, the Com
// Port Control option of RFC 2217): the stream decoder, the client's side of the option
// negotiation and the encoding of data and Com Port requests. Pure: no socket. Everything the
// server sends is untrusted, so nothing here grows with the input: the decoder works in place
// and keeps at most a fixed number of bytes of a subnegotiation, the answers go into a buffer
// of fixed size.
#pragma once

#include "serial/line_state.h"

#include <QtGlobal>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace serial::telnet {

constexpr std::uint8_t kIac = 255;
constexpr std::uint8_t kDont = 254;
constexpr std::uint8_t kDo = 253;
constexpr std::uint8_t kWont = 252;
constexpr std::uint8_t kWill = 251;
constexpr std::uint8_t kSb = 250;
constexpr std::uint8_t kSe = 240;

constexpr std::uint8_t kBinary = 0;
constexpr std::uint8_t kSuppressGoAhead = 3;
constexpr std::uint8_t kComPort = 44;

// The client's Com Port requests; the server answers each with the same number + 100.
enum class ComPortCommand : std::uint8_t {
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    PurgeData = 12,
};
constexpr std::uint8_t kServerAnswerOffset = 100;

// SET-CONTROL values.
enum class Control : std::uint8_t {
    NoFlow = 1,
    XonXoffFlow = 2,
    HardwareFlow = 3,
    BreakOn = 5,
    BreakOff = 6,
    DtrOn = 8,
    DtrOff = 9,
    RtsOn = 11,
    RtsOff = 12,
};
// PURGE-DATA values: the server's buffer from the device, the one towards it, both.
enum class Purge : std::uint8_t { Received = 1, Transmit = 2, Both = 3 };

// Bytes waiting to go out, in a buffer of fixed size: appended whole or not at all.
class Outbox {
public:
    static constexpr int kCapacity = 512;
    bool append(const std::uint8_t *bytes, int size, int limit = kCapacity);
    const std::uint8_t *data() const { return m_bytes.data(); }
    int size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    void consume(int count);
    void clear() { m_size = 0; }

private:
    std::array<std::uint8_t, kCapacity> m_bytes{};
    int m_size = 0;
};

// The stream decoder: data bytes stay (0xFF 0xFF becomes one 0xFF), commands are taken out and
// handed over. A sequence may end in the middle of one read and go on in the next.
class Decoder {
public:
    // Longer subnegotiations are dropped whole (no Com Port message comes near this).
    static constexpr int kSubnegotiationBound = 64;

    class Handler {
    public:
        virtual void negotiation(std::uint8_t verb, std::uint8_t option) = 0;
        virtual void subnegotiation(std::uint8_t option, const std::uint8_t *data, int size) = 0;

    protected:
        ~Handler() = default;
    };

    // Decodes in place: the data bytes end up at the front; returns their count.
    qint64 decode(char *buffer, qint64 size, Handler &handler);

private:
    enum class State : std::uint8_t { Data, Iac, Verb, SubOption, SubData, SubIac };
    // After IAC: whether the byte starts a command that goes on.
    void command(std::uint8_t byte);
    void endSubnegotiation(Handler &handler);

    State m_state = State::Data;
    std::uint8_t m_verb = 0;
    std::uint8_t m_subOption = 0;
    bool m_subOverflow = false;
    int m_subSize = 0;
    std::array<std::uint8_t, kSubnegotiationBound> m_sub{};
};

// The client: what it asks for at the start (binary both ways, the Com Port option), its answers
// to the server's negotiation (RFC 1143's rules, so that no answer loop can start), and the
// server's answers to Com Port requests.
class Client : private Decoder::Handler {
public:
    // The opening requests go into the outbox at once.
    Client();

    // Decodes what came from the server in place (see Decoder::decode); answers go to the outbox.
    qint64 receive(char *buffer, qint64 size) { return m_decoder.decode(buffer, size, *this); }
    // Queues a Com Port request (1 value byte, 4 for the baud rate); false when there is no room.
    bool request(ComPortCommand command, std::uint32_t value);
    // The server's last answer to a request of this kind, and forgetting it before asking anew.
    // SET-CONTROL answers are kept by kind: the one for flow control, DTR or RTS.
    std::optional<std::uint32_t> answer(ComPortCommand command,
                                        Control kind = Control::NoFlow) const;
    void forgetAnswer(ComPortCommand command, Control kind = Control::NoFlow);
    // The server has refused the Com Port option (or never had it to offer).
    bool comPortRefused() const { return m_us[kComPort] == Side::No; }
    bool binaryBothWays() const {
        return m_us[kBinary] == Side::Yes && m_him[kBinary] == Side::Yes;
    }

    Outbox &outbox() { return m_outbox; }

private:
    enum class Side : std::uint8_t { No, Yes, WantYes };
    void negotiation(std::uint8_t verb, std::uint8_t option) override;
    void subnegotiation(std::uint8_t option, const std::uint8_t *data, int size) override;
    void answerNegotiation(std::uint8_t verb, std::uint8_t option);
    static int slotOf(ComPortCommand command, Control kind);

    Decoder m_decoder;
    Outbox m_outbox;
    std::array<Side, 256> m_us{};  // options this end performs
    std::array<Side, 256> m_him{}; // options the server performs
    std::array<std::optional<std::uint32_t>, 16> m_answers{};
};

// Data as it goes on the wire: 0xFF doubled, nothing else touched. `out` holds 2 * size.
int escape(const char *data, int size, std::uint8_t *out);
// How many data bytes the first `wireBytes` of escape's output carry, and whether the last of
// them was cut in half (its second 0xFF still owed).
struct WireSplit {
    int dataBytes = 0;
    bool owesIac = false;
};
WireSplit splitAt(const char *data, int size, int wireBytes);

// The Com Port requests that set the line as the dialog's settings ask (a rate of 0 and an index
// of -1 ask for nothing), in the order they are sent.
struct ComPortRequest {
    ComPortCommand command;
    std::uint32_t value;
};
std::vector<ComPortRequest> lineRequests(const LineSettings &settings);
// The settings the server says it set, as indices of the dialog's lists; what it has not
// answered counts as taken as asked.
LineSettings answeredSettings(const Client &client, const LineSettings &asked);

} // namespace serial::telnet
