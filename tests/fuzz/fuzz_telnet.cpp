// The Telnet / RFC 2217 stream decoder as a network port feeds it: reads of any size, the
// answers going into the fixed outbox, which the "socket" takes now and then.
#include "serial/telnet_codec.h"
#include "tests/fuzz/fuzz_target.h"

#include <cstdlib>
#include <cstring>
#include <vector>

KV_FUZZ_TARGET(telnet) {
    if (size == 0)
        return 0;
    // The first byte sets the size of each read, so that sequences are cut everywhere.
    const std::size_t piece = 1 + data[0] % 64;
    serial::telnet::Client client;
    std::vector<char> buffer;
    for (std::size_t at = 1; at < size; at += piece) {
        const std::size_t n = std::min(piece, size - at);
        buffer.assign(data + at, data + at + n);
        const qint64 decoded = client.receive(buffer.data(), qint64(n));
        if (decoded < 0 || std::size_t(decoded) > n)
            std::abort();
        if (client.outbox().size() > serial::telnet::Outbox::kCapacity)
            std::abort();
        if (at % 3 == 0)
            client.outbox().consume(client.outbox().size() / 2);
        client.request(serial::telnet::ComPortCommand::SetBaudRate, 0xFFFFFFFFu);
    }
    const serial::LineSettings asked{115200, 4, 2, 3, 0};
    serial::telnet::answeredSettings(client, asked);
    return 0;
}
