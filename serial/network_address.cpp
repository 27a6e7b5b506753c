#include "serial/network_address.h"

namespace serial {

namespace {

struct Scheme {
    const char *prefix;
    NetworkProtocol protocol;
};
constexpr Scheme kSchemes[] = {{"rfc2217://", NetworkProtocol::Rfc2217},
                               {"tcp://", NetworkProtocol::RawTcp}};

const Scheme *schemeOf(const QString &name) {
    for (const Scheme &scheme : kSchemes)
        if (name.startsWith(QLatin1String(scheme.prefix), Qt::CaseInsensitive))
            return &scheme;
    return nullptr;
}

// Letters, digits, '-', '.' and '_' (a host name or an IPv4 address); hex digits, ':' and '.'
// inside brackets (an IPv6 address, possibly ending in an IPv4 one).
bool hostCharactersValid(const QString &host, bool bracketed) {
    for (const QChar c : host) {
        const bool alnum = c.isLetterOrNumber() && c.unicode() < 128;
        const bool ok = bracketed ? (c.isDigit() || (c.toLower() >= u'a' && c.toLower() <= u'f') ||
                                     c == u':' || c == u'.')
                                  : (alnum || c == u'-' || c == u'.' || c == u'_');
        if (!ok)
            return false;
    }
    return !host.isEmpty();
}

std::optional<std::uint16_t> portNumber(const QString &text) {
    if (text.isEmpty() || text.size() > 5)
        return std::nullopt;
    for (const QChar c : text)
        if (c < u'0' || c > u'9')
            return std::nullopt;
    const int value = text.toInt();
    if (value < 1 || value > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

// Splits "HOST:PORT" or "[V6]:PORT"; the error names what is wrong.
QString splitHostPort(const QString &rest, NetworkAddress &address) {
    const bool bracketed = rest.startsWith(u'[');
    const qsizetype colon =
        bracketed ? rest.indexOf(QStringLiteral("]:")) + 1 : rest.lastIndexOf(u':');
    if (colon <= 0)
        return QStringLiteral("no port number (HOST:PORT)");
    address.host = bracketed ? rest.mid(1, colon - 2) : rest.left(colon);
    if (!hostCharactersValid(address.host, bracketed))
        return QStringLiteral("not a host name or address: ") + rest.left(colon);
    const auto port = portNumber(rest.mid(colon + 1));
    if (!port)
        return QStringLiteral("not a port number from 1 to 65535: ") + rest.mid(colon + 1);
    address.port = *port;
    return {};
}

} // namespace

bool isNetworkName(const QString &name) {
    return schemeOf(name) != nullptr;
}

std::optional<NetworkAddress> networkAddress(const QString &name) {
    const Scheme *scheme = schemeOf(name);
    if (!scheme)
        return std::nullopt;
    NetworkAddress address;
    address.protocol = scheme->protocol;
    address.error = splitHostPort(name.mid(qsizetype(qstrlen(scheme->prefix))), address);
    if (!address.valid()) {
        address.host.clear();
        address.port = 0;
    }
    return address;
}

} // namespace serial
