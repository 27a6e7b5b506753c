#include "serial/telnet_codec.h"

#include <algorithm>
#include <cstring>

namespace serial::telnet {

bool Outbox::append(const std::uint8_t *bytes, int size, int limit) {
    if (size < 0 || m_size + size > std::min(limit, kCapacity))
        return false;
    std::memcpy(m_bytes.data() + m_size, bytes, static_cast<size_t>(size));
    m_size += size;
    return true;
}

void Outbox::consume(int count) {
    count = std::clamp(count, 0, m_size);
    std::memmove(m_bytes.data(), m_bytes.data() + count, static_cast<size_t>(m_size - count));
    m_size -= count;
}

// --- decoder ------------------------------------------------------------------------------

void Decoder::command(std::uint8_t byte) {
    if (byte >= kWill && byte <= kDont) {
        m_verb = byte;
        m_state = State::Verb;
    } else if (byte == kSb) {
        m_state = State::SubOption;
    } else {
        // NOP, GA, a stray SE and the other one-byte commands carry nothing for a client.
        m_state = State::Data;
    }
}

void Decoder::endSubnegotiation(Handler &handler) {
    if (!m_subOverflow)
        handler.subnegotiation(m_subOption, m_sub.data(), m_subSize);
    m_state = State::Data;
}

qint64 Decoder::decode(char *buffer, qint64 size, Handler &handler) {
    qint64 out = 0;
    for (qint64 in = 0; in < size; ++in) {
        const auto byte = static_cast<std::uint8_t>(buffer[in]);
        switch (m_state) {
        case State::Data:
            if (byte == kIac)
                m_state = State::Iac;
            else
                buffer[out++] = static_cast<char>(byte);
            break;
        case State::Iac:
            if (byte == kIac) {
                buffer[out++] = static_cast<char>(byte);
                m_state = State::Data;
            } else {
                command(byte);
            }
            break;
        case State::Verb:
            m_state = State::Data;
            handler.negotiation(m_verb, byte);
            break;
        case State::SubOption:
            m_subOption = byte;
            m_subSize = 0;
            m_subOverflow = false;
            m_state = State::SubData;
            break;
        case State::SubData:
        case State::SubIac:
            if (m_state == State::SubData && byte == kIac) {
                m_state = State::SubIac;
                break;
            }
            if (m_state == State::SubIac && byte != kIac) {
                // IAC SE ends it; IAC and anything else is a broken subnegotiation that ends
                // here, the byte read as the command it is.
                endSubnegotiation(handler);
                if (byte != kSe)
                    command(byte);
                break;
            }
            m_state = State::SubData;
            if (m_subSize < kSubnegotiationBound)
                m_sub[m_subSize++] = byte;
            else
                m_subOverflow = true;
            break;
        }
    }
    return out;
}

// --- client -------------------------------------------------------------------------------

namespace {

bool wantedHere(std::uint8_t option) {
    return option == kBinary || option == kComPort || option == kSuppressGoAhead;
}

bool wantedThere(std::uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead;
}

} // namespace

Client::Client() {
    const std::uint8_t opening[] = {kIac,    kWill, kBinary, kIac,    kDo,
                                    kBinary, kIac,  kWill,   kComPort};
    m_outbox.append(opening, sizeof opening);
    m_us[kBinary] = Side::WantYes;
    m_him[kBinary] = Side::WantYes;
    m_us[kComPort] = Side::WantYes;
}

void Client::answerNegotiation(std::uint8_t verb, std::uint8_t option) {
    // Answers take at most half the outbox, so that a server flooding negotiations it never
    // reads the answers to cannot keep the client's own requests out.
    const std::uint8_t answer[] = {kIac, verb, option};
    m_outbox.append(answer, sizeof answer, Outbox::kCapacity / 2);
}

void Client::negotiation(std::uint8_t verb, std::uint8_t option) {
    const bool aboutHim = verb == kWill || verb == kWont;
    Side &side = aboutHim ? m_him[option] : m_us[option];
    const bool enable = verb == kWill || verb == kDo;
    const std::uint8_t yes = aboutHim ? kDo : kWill;
    const std::uint8_t no = aboutHim ? kDont : kWont;
    if (enable) {
        if (side == Side::WantYes) {
            side = Side::Yes;
        } else if (side == Side::No) {
            const bool wanted = aboutHim ? wantedThere(option) : wantedHere(option);
            side = wanted ? Side::Yes : Side::No;
            answerNegotiation(wanted ? yes : no, option);
        }
        return;
    }
    if (side == Side::Yes)
        answerNegotiation(no, option);
    side = Side::No;
}

int Client::slotOf(ComPortCommand command, Control kind) {
    if (command != ComPortCommand::SetControl)
        return static_cast<int>(command);
    switch (kind) {
    case Control::DtrOn:
    case Control::DtrOff:
        return 13;
    case Control::RtsOn:
    case Control::RtsOff:
        return 14;
    case Control::BreakOn:
    case Control::BreakOff:
        return 15;
    default:
        return static_cast<int>(command);
    }
}

void Client::subnegotiation(std::uint8_t option, const std::uint8_t *data, int size) {
    if (option != kComPort || size < 2 || data[0] <= kServerAnswerOffset)
        return;
    const auto command = static_cast<ComPortCommand>(data[0] - kServerAnswerOffset);
    std::uint32_t value = data[1];
    if (command == ComPortCommand::SetBaudRate) {
        if (size < 5)
            return;
        value = (std::uint32_t(data[1]) << 24) | (std::uint32_t(data[2]) << 16) |
                (std::uint32_t(data[3]) << 8) | data[4];
    }
    const auto kind = static_cast<Control>(data[1]);
    const int slot = slotOf(command, kind);
    if (slot > 0 && slot < int(m_answers.size()))
        m_answers[static_cast<size_t>(slot)] = value;
}

bool Client::request(ComPortCommand command, std::uint32_t value) {
    std::array<std::uint8_t, 16> message{};
    int size = 0;
    const auto put = [&](std::uint8_t byte) {
        message[static_cast<size_t>(size++)] = byte;
        if (byte == kIac)
            message[static_cast<size_t>(size++)] = byte;
    };
    message[size++] = kIac;
    message[size++] = kSb;
    message[size++] = kComPort;
    put(static_cast<std::uint8_t>(command));
    if (command == ComPortCommand::SetBaudRate)
        for (int shift = 24; shift >= 0; shift -= 8)
            put(static_cast<std::uint8_t>(value >> shift));
    else
        put(static_cast<std::uint8_t>(value));
    message[static_cast<size_t>(size++)] = kIac;
    message[static_cast<size_t>(size++)] = kSe;
    return m_outbox.append(message.data(), size);
}

std::optional<std::uint32_t> Client::answer(ComPortCommand command, Control kind) const {
    return m_answers[static_cast<size_t>(slotOf(command, kind))];
}

void Client::forgetAnswer(ComPortCommand command, Control kind) {
    m_answers[static_cast<size_t>(slotOf(command, kind))].reset();
}

// --- data ---------------------------------------------------------------------------------

int escape(const char *data, int size, std::uint8_t *out) {
    int n = 0;
    for (int i = 0; i < size; ++i) {
        const auto byte = static_cast<std::uint8_t>(data[i]);
        out[n++] = byte;
        if (byte == kIac)
            out[n++] = byte;
    }
    return n;
}

WireSplit splitAt(const char *data, int size, int wireBytes) {
    WireSplit split;
    int wire = 0;
    while (split.dataBytes < size && wire < wireBytes) {
        const bool doubled = static_cast<std::uint8_t>(data[split.dataBytes]) == kIac;
        wire += doubled ? 2 : 1;
        ++split.dataBytes;
        split.owesIac = wire > wireBytes;
    }
    return split;
}

// --- line settings ------------------------------------------------------------------------

namespace {

// The dialog's lists ("1", "1.5", "2"; "Even", "Mark", "None", "Odd", "Space"; "Hardware",
// "Software", "None") in the protocol's numbers; data bits are their own number.
constexpr std::array<std::uint32_t, 3> kStopSizes{1, 3, 2};
constexpr std::array<std::uint32_t, 5> kParities{3, 4, 1, 2, 5};
constexpr std::array<std::uint32_t, 3> kFlows{3, 2, 1};
constexpr std::uint32_t kLowestDataBits = 4;
constexpr int kDataBitsChoices = 5;

template <size_t N>
std::optional<std::uint32_t> valueAt(const std::array<std::uint32_t, N> &v, int i) {
    if (i < 0 || i >= int(N))
        return std::nullopt;
    return v[static_cast<size_t>(i)];
}

template <size_t N> int indexOf(const std::array<std::uint32_t, N> &values, std::uint32_t value) {
    const auto it = std::find(values.begin(), values.end(), value);
    return it == values.end() ? -1 : int(it - values.begin());
}

} // namespace

std::vector<ComPortRequest> lineRequests(const LineSettings &s) {
    std::vector<ComPortRequest> requests;
    if (s.baud != 0)
        requests.push_back({ComPortCommand::SetBaudRate, s.baud});
    if (s.dataBitsIndex >= 0 && s.dataBitsIndex < kDataBitsChoices)
        requests.push_back(
            {ComPortCommand::SetDataSize, kLowestDataBits + std::uint32_t(s.dataBitsIndex)});
    if (const auto parity = valueAt(kParities, s.parityIndex))
        requests.push_back({ComPortCommand::SetParity, *parity});
    if (const auto stop = valueAt(kStopSizes, s.stopBitsIndex))
        requests.push_back({ComPortCommand::SetStopSize, *stop});
    if (const auto flow = valueAt(kFlows, s.flowIndex))
        requests.push_back({ComPortCommand::SetControl, *flow});
    return requests;
}

LineSettings answeredSettings(const Client &client, const LineSettings &asked) {
    LineSettings got = asked;
    if (const auto baud = client.answer(ComPortCommand::SetBaudRate))
        got.baud = *baud;
    if (const auto bits = client.answer(ComPortCommand::SetDataSize))
        got.dataBitsIndex = *bits >= kLowestDataBits ? int(*bits - kLowestDataBits) : -1;
    if (const auto parity = client.answer(ComPortCommand::SetParity))
        got.parityIndex = indexOf(kParities, *parity);
    if (const auto stop = client.answer(ComPortCommand::SetStopSize))
        got.stopBitsIndex = indexOf(kStopSizes, *stop);
    if (const auto flow = client.answer(ComPortCommand::SetControl))
        got.flowIndex = indexOf(kFlows, *flow);
    return got;
}

} // namespace serial::telnet
