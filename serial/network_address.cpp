#include "serial/network_address.h"

#include "serial/port_names.h"

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>

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

// What a message echoes of the name: a hostile one must not fill pages.
constexpr qsizetype kEchoed = 64;
constexpr qsizetype kLongestHostName = 253;
constexpr qsizetype kLongestLabel = 63;

QString echoed(const QString &text) {
    return elided(printableText(text), kEchoed);
}

bool isAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// Four decimal parts of 0 to 255: the short and octal forms the resolver also takes
// ("1.2.3" for 1.2.0.3) connect somewhere else than meant.
bool isDottedQuad(const QString &host) {
    const QStringList parts = host.split(u'.');
    if (parts.size() != 4)
        return false;
    for (const QString &part : parts) {
        if (part.isEmpty() || part.size() > 3 ||
            !std::all_of(part.begin(), part.end(), isAsciiDigit))
            return false;
        if (part.toInt() > 255 || (part.size() > 1 && part.front() == u'0'))
            return false;
    }
    return true;
}

// Labels of letters, digits, '_' and '-' (not at either end), between dots.
bool isHostName(const QString &host) {
    if (host.isEmpty() || host.size() > kLongestHostName)
        return false;
    for (const QString &label : host.split(u'.')) {
        if (label.isEmpty() || label.size() > kLongestLabel || label.front() == u'-' ||
            label.back() == u'-')
            return false;
        for (const QChar c : label)
            if (!(c.unicode() < 128 && (c.isLetterOrNumber() || c == u'-' || c == u'_')))
                return false;
    }
    return true;
}

// An IPv6 address, with a zone ("fe80::1%eth0") for a link-local one.
bool isIpv6Address(const QString &host) {
    const qsizetype percent = host.indexOf(u'%');
    const QString zone = percent >= 0 ? host.mid(percent + 1) : QString();
    if (percent >= 0 && (zone.isEmpty() || zone.size() > 15 || !isHostName(zone)))
        return false;
    in6_addr address{};
    return inet_pton(AF_INET6, host.left(percent).toLatin1().constData(), &address) == 1;
}

// Empty for a usable host, else what is wrong with it.
QString hostError(const QString &host, bool bracketed) {
    if (bracketed)
        return isIpv6Address(host) ? QString()
                                   : QStringLiteral("not an IPv6 address: ") + echoed(host);
    if (host.isEmpty())
        return QStringLiteral("no host before the port number");
    if (std::all_of(host.begin(), host.end(), [](QChar c) { return isAsciiDigit(c) || c == u'.'; }))
        return isDottedQuad(host)
                   ? QString()
                   : QStringLiteral("not an IPv4 address (four numbers from 0 to 255): ") +
                         echoed(host);
    if (host.size() > kLongestHostName)
        return QStringLiteral("a host name longer than 253 characters: ") + echoed(host);
    return isHostName(host) ? QString() : QStringLiteral("not a host name: ") + echoed(host);
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
    const qsizetype close = bracketed ? rest.indexOf(u']') : -1;
    if (bracketed && close < 0)
        return QStringLiteral("no ']' after the IPv6 address");
    const qsizetype colon = bracketed ? close + 1 : rest.lastIndexOf(u':');
    if (colon < 0 || (bracketed && (colon >= rest.size() || rest[colon] != u':'))) {
        if (bracketed && colon < rest.size())
            return QStringLiteral("not a ':' and port number after the address: ") +
                   echoed(rest.mid(colon));
        return QStringLiteral("no port number (HOST:PORT)");
    }
    address.host = bracketed ? rest.mid(1, close - 1) : rest.left(colon);
    if (QString error = hostError(address.host, bracketed); !error.isEmpty())
        return error;
    const QString portText = rest.mid(colon + 1);
    if (portText.isEmpty())
        return QStringLiteral("no port number after the ':'");
    const auto port = portNumber(portText);
    if (!port)
        return QStringLiteral("not a port number from 1 to 65535: ") + echoed(portText);
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
