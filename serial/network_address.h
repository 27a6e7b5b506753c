// The names of ports across the network: "rfc2217://HOST:PORT" (Telnet with the Com Port
// Control option) and "tcp://HOST:PORT" (the bytes only). HOST is a host name, an IPv4 address
// of four decimal parts or an IPv6 address in brackets, with a zone where it needs one
// ("[::1]", "[fe80::1%eth0]").
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace serial {

enum class NetworkProtocol { Rfc2217, RawTcp };

struct NetworkAddress {
    NetworkProtocol protocol = NetworkProtocol::Rfc2217;
    QString host; // without the brackets of an IPv6 address
    std::uint16_t port = 0;
    // Why the name cannot be used ("no port number"); empty for a usable address.
    QString error;
    bool valid() const { return error.isEmpty(); }
};

// Whether the name begins with one of the network schemes (in any letter case): such a name is
// never a local device, even when the rest of it is wrong.
bool isNetworkName(const QString &name);

// The address a network name stands for (check valid()); none for a local port's name.
std::optional<NetworkAddress> networkAddress(const QString &name);

} // namespace serial
