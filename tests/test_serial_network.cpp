// Network port names and the Telnet / RFC 2217 codec, without a socket.
#include "serial/network_address.h"
#include "serial/telnet_codec.h"

#include <gtest/gtest.h>

#include <QByteArray>

using namespace serial;
using namespace serial::telnet;

TEST(NetworkNames, ParsedByTable) {
    struct Case {
        const char *name;
        const char *host; // null: the name is not usable (or not a network name, see below)
        int port;
        NetworkProtocol protocol;
    };
    const Case cases[] = {
        {"rfc2217://127.0.0.1:7000", "127.0.0.1", 7000, NetworkProtocol::Rfc2217},
        {"RFC2217://bench-7.lab_a:2217", "bench-7.lab_a", 2217, NetworkProtocol::Rfc2217},
        {"tcp://[::1]:65535", "::1", 65535, NetworkProtocol::RawTcp},
        {"TCP://[fe80::1:2]:1", "fe80::1:2", 1, NetworkProtocol::RawTcp},
        {"tcp://[::ffff:10.0.0.1]:80", "::ffff:10.0.0.1", 80, NetworkProtocol::RawTcp},
        {"rfc2217://[fe80::1%lo]:7000", "fe80::1%lo", 7000, NetworkProtocol::Rfc2217},
        {"rfc2217://1.2.3:1", nullptr, 0, NetworkProtocol::Rfc2217},
        {"rfc2217://256.1.1.1:1", nullptr, 0, NetworkProtocol::Rfc2217},
        {"rfc2217://010.0.0.1:1", nullptr, 0, NetworkProtocol::Rfc2217},
        {"rfc2217://-foo:1", nullptr, 0, NetworkProtocol::Rfc2217},
        {"rfc2217://a..b:1", nullptr, 0, NetworkProtocol::Rfc2217},
        {"rfc2217://[fe80::1%]:1", nullptr, 0, NetworkProtocol::Rfc2217},
        {"tcp://host", nullptr, 0, NetworkProtocol::RawTcp},
        {"tcp://host:", nullptr, 0, NetworkProtocol::RawTcp},
        {"tcp://:7000", nullptr, 0, NetworkProtocol::RawTcp},
        {"tcp://host:0", nullptr, 0, NetworkProtocol::RawTcp},
        {"tcp://host:65536", nullptr, 0, NetworkProtocol::RawTcp},
        {"tcp://host:+80", nullptr, 0, NetworkProtocol::RawTcp},
        {"tcp://host:080x", nullptr, 0, NetworkProtocol::RawTcp},
        {"tcp://::1:80", nullptr, 0, NetworkProtocol::RawTcp},
        {"tcp://[::1:80", nullptr, 0, NetworkProtocol::RawTcp},
        {"tcp://[]:80", nullptr, 0, NetworkProtocol::RawTcp},
        {"tcp://[host]:80", nullptr, 0, NetworkProtocol::RawTcp},
        {"rfc2217://ho st:80", nullptr, 0, NetworkProtocol::Rfc2217},
        {"rfc2217://host/x:80", nullptr, 0, NetworkProtocol::Rfc2217},
        {"rfc2217://h\xc3\xa9:80", nullptr, 0, NetworkProtocol::Rfc2217},
        {"rfc2217://", nullptr, 0, NetworkProtocol::Rfc2217},
    };
    for (const Case &c : cases) {
        const auto address = networkAddress(QString::fromUtf8(c.name));
        ASSERT_TRUE(address.has_value()) << c.name;
        EXPECT_EQ(address->protocol, c.protocol) << c.name;
        EXPECT_EQ(address->valid(), c.host != nullptr)
            << c.name << " " << address->error.toStdString();
        if (c.host) {
            EXPECT_EQ(address->host, QString(c.host)) << c.name;
            EXPECT_EQ(address->port, c.port) << c.name;
        }
    }
    // The message names what is wrong, and echoes little of a hostile name.
    const struct {
        QString name;
        QString error;
    } messages[] = {
        {"rfc2217://1.2.3:1", "not an IPv4 address (four numbers from 0 to 255): 1.2.3"},
        {"rfc2217://-foo:1", "not a host name: -foo"},
        {"rfc2217://[::1]x:5000", "not a ':' and port number after the address: x:5000"},
        {"rfc2217://[::1", "no ']' after the IPv6 address"},
        {"rfc2217://127.0.0.1:", "no port number after the ':'"},
        {"rfc2217://h:" + QString(100000, u'9'),
         "not a port number from 1 to 65535: " + QString(61, u'9') + "..."},
        {"rfc2217://" + QString(100000, u'h') + ":1",
         "a host name longer than 253 characters: " + QString(61, u'h') + "..."},
    };
    for (const auto &m : messages)
        EXPECT_EQ(networkAddress(m.name)->error, m.error) << m.name.left(40).toStdString();
    for (const char *local : {"COM3", "ttyUSB0", "/dev/pts/3", "tcp:/host:80", "rfc2217:x:1", ""}) {
        EXPECT_FALSE(networkAddress(local).has_value()) << local;
        EXPECT_FALSE(isNetworkName(local)) << local;
    }
}

namespace {

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

// Feeds the client in pieces of the given size: what a server's stream decodes to.
QByteArray receiveInPieces(Client &client, const QByteArray &stream, int piece) {
    QByteArray data;
    for (qsizetype at = 0; at < stream.size(); at += piece) {
        QByteArray chunk = stream.mid(at, piece);
        data.append(chunk.constData(), client.receive(chunk.data(), chunk.size()));
    }
    return data;
}

QByteArray takeOutbox(Client &client) {
    QByteArray out(reinterpret_cast<const char *>(client.outbox().data()), client.outbox().size());
    client.outbox().clear();
    return out;
}

} // namespace

TEST(TelnetCodec, DataPassesWhateverTheSplitOfTheStream) {
    QByteArray all;
    for (int v = 0; v < 256; ++v)
        all.append(char(v));
    all.append("\r\n\r\0\r", 5);
    std::vector<std::uint8_t> wire(size_t(all.size()) * 2);
    const int wireSize = escape(all.constData(), int(all.size()), wire.data());
    ASSERT_EQ(wireSize, all.size() + 1); // only 0xFF is doubled; CR gets no NUL or LF
    const QByteArray stream = bytes({kIac, kWill, kBinary}) +
                              QByteArray(reinterpret_cast<const char *>(wire.data()), wireSize) +
                              bytes({kIac, kSb, kComPort, 101, 0, 0, 0x25, 0x80, kIac, kSe, 'z'});
    // Every split, 0xFF as the last byte of a read included.
    for (int piece : {1, 2, 3, 7, 256, 4096}) {
        Client client;
        EXPECT_EQ(receiveInPieces(client, stream, piece), all + "z") << piece;
        EXPECT_EQ(client.answer(ComPortCommand::SetBaudRate), 9600u) << piece;
    }
}

TEST(TelnetCodec, SplitOfAWriteOwesTheSecondHalfOfADoubledIac) {
    const QByteArray data = bytes({'a', 0xFF, 'b'});
    EXPECT_EQ(splitAt(data.constData(), 3, 1).dataBytes, 1);
    EXPECT_FALSE(splitAt(data.constData(), 3, 1).owesIac);
    EXPECT_EQ(splitAt(data.constData(), 3, 2).dataBytes, 2);
    EXPECT_TRUE(splitAt(data.constData(), 3, 2).owesIac);
    EXPECT_FALSE(splitAt(data.constData(), 3, 3).owesIac);
    EXPECT_EQ(splitAt(data.constData(), 3, 4).dataBytes, 3);
}

TEST(TelnetCodec, NegotiationAnswersOnceAndNeverLoops) {
    Client client;
    EXPECT_EQ(takeOutbox(client),
              bytes({kIac, kWill, kBinary, kIac, kDo, kBinary, kIac, kWill, kComPort}));
    // What ser2net sends on connecting: its answers to ours cost no answer of ours.
    QByteArray server =
        bytes({kIac, kWill, 3,   kIac,    kDo,  3,     kIac,    kWill, 1,   kIac,    kDont,
               1,    kIac,  kDo, kBinary, kIac, kWill, kBinary, kIac,  kDo, kComPort});
    receiveInPieces(client, server, 5);
    EXPECT_EQ(takeOutbox(client), bytes({kIac, kDo, 3, kIac, kWill, 3, kIac, kDont, 1}));
    EXPECT_TRUE(client.binaryBothWays());
    EXPECT_FALSE(client.comPortRefused());
    // Repeating agreed options is answered by nothing; an unknown one is refused; a withdrawn
    // one is confirmed once.
    receiveInPieces(client, bytes({kIac, kDo, kBinary, kIac, kWill, kBinary, kIac, kDo, 99}), 64);
    EXPECT_EQ(takeOutbox(client), bytes({kIac, kWont, 99}));
    receiveInPieces(client, bytes({kIac, kDont, kComPort, kIac, kDont, kComPort}), 64);
    EXPECT_EQ(takeOutbox(client), bytes({kIac, kWont, kComPort}));
    EXPECT_TRUE(client.comPortRefused());
}

TEST(TelnetCodec, HostileStreamsKeepEverythingBounded) {
    Client client;
    takeOutbox(client);
    // A flood of refused options fills at most half the outbox; requests still fit.
    QByteArray flood;
    for (int i = 0; i < 100000; ++i)
        flood += bytes({kIac, kDo, 100 + i % 100});
    receiveInPieces(client, flood, 4096);
    EXPECT_LE(client.outbox().size(), Outbox::kCapacity / 2);
    EXPECT_TRUE(client.request(ComPortCommand::SetBaudRate, 0xFFFFFFFF));
    // A subnegotiation that never closes swallows the stream without keeping it; one that is
    // too long is dropped whole; one broken by a command ends there.
    Client open;
    QByteArray endless = bytes({kIac, kSb, kComPort, 101});
    endless += QByteArray(1 << 20, 'x');
    EXPECT_EQ(receiveInPieces(open, endless, 65536), QByteArray());
    EXPECT_FALSE(open.answer(ComPortCommand::SetBaudRate).has_value());
    EXPECT_EQ(receiveInPieces(open, bytes({kIac, kSe, 'a'}), 1), QByteArray("a"));
    EXPECT_FALSE(open.answer(ComPortCommand::SetBaudRate).has_value());
    Client broken;
    QByteArray stream = bytes({kIac, kSb, kComPort, 102, 7, kIac, kWill, kBinary, 'b'});
    EXPECT_EQ(receiveInPieces(broken, stream, 3), QByteArray("b"));
    EXPECT_EQ(broken.answer(ComPortCommand::SetDataSize), 7u);
}

TEST(TelnetCodec, LineSettingsAsRequestsAndAnswers) {
    // 7 data bits, 1.5 stop bits, mark parity, hardware flow.
    const LineSettings asked{250000, 3, 1, 1, 0};
    const auto requests = lineRequests(asked);
    ASSERT_EQ(requests.size(), 5u);
    const std::pair<ComPortCommand, std::uint32_t> expected[] = {
        {ComPortCommand::SetBaudRate, 250000},
        {ComPortCommand::SetDataSize, 7},
        {ComPortCommand::SetParity, 4},
        {ComPortCommand::SetStopSize, 3},
        {ComPortCommand::SetControl, 3}};
    for (size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].command, expected[i].first) << i;
        EXPECT_EQ(requests[i].value, expected[i].second) << i;
    }
    EXPECT_TRUE(lineRequests(LineSettings{}).empty());

    Client client;
    takeOutbox(client);
    ASSERT_TRUE(client.request(ComPortCommand::SetBaudRate, 0x0100FF00));
    EXPECT_EQ(takeOutbox(client), bytes({kIac, kSb, kComPort, 1, 1, 0, kIac, kIac, 0, kIac, kSe}));
    // The server kept 115200 baud and 1 stop bit, took the rest, and answered DTR (which is not
    // flow control) and never the flow request.
    const QByteArray answers = bytes(
        {kIac, kSb,  kComPort, 101,  0,   1,        0xC2, 0x00, kIac, kSe, kIac, kSb, kComPort, 102,
         7,    kIac, kSe,      kIac, kSb, kComPort, 103,  4,    kIac, kSe, kIac, kSb, kComPort, 104,
         1,    kIac, kSe,      kIac, kSb, kComPort, 105,  8,    kIac, kSe});
    receiveInPieces(client, answers, 4);
    EXPECT_EQ(client.answer(ComPortCommand::SetControl, Control::DtrOn), 8u);
    EXPECT_FALSE(client.answer(ComPortCommand::SetControl).has_value());
    EXPECT_EQ(keptSettings(asked, answeredSettings(client, asked)),
              QStringList({"baud rate 115200 instead of 250000", "stop bits 1 instead of 1.5"}));
}
