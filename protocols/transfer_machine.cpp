#include "protocols/transfer_machine.h"

#include "protocols/xmodem_block.h"

#include <array>
#include <utility>

namespace protocols {

namespace {

struct Named {
    Protocol protocol;
    const char *name;
    const char *title;
};
constexpr std::array<Named, 4> kNames{{{Protocol::Xmodem, "xmodem", "XMODEM"},
                                       {Protocol::Xmodem1k, "xmodem-1k", "XMODEM-1K"},
                                       {Protocol::Ymodem, "ymodem", "YMODEM"},
                                       {Protocol::Zmodem, "zmodem", "ZMODEM"}}};

} // namespace

std::optional<Protocol> protocolFromName(const QString &name) {
    for (const Named &named : kNames) {
        if (name == QLatin1String(named.name))
            return named.protocol;
    }
    return std::nullopt;
}

QString protocolName(Protocol protocol) {
    return QLatin1String(kNames[std::size_t(protocol)].name);
}

QString protocolTitle(Protocol protocol) {
    return QLatin1String(kNames[std::size_t(protocol)].title);
}

bool isBatch(Protocol protocol) {
    return protocol == Protocol::Ymodem || protocol == Protocol::Zmodem;
}

void TransferMachine::cancel(const QString &reason) {
    fail(reason, true);
}

QByteArray TransferMachine::takeOutput() {
    return std::exchange(m_output, {});
}

std::vector<Event> TransferMachine::takeEvents() {
    return std::exchange(m_events, {});
}

std::optional<TimePoint> TransferMachine::deadline() const {
    if (m_ended)
        return std::nullopt;
    return m_deadline;
}

void TransferMachine::succeed() {
    if (m_ended)
        return;
    m_ended = true;
    emitEvent({Event::Kind::Done});
}

void TransferMachine::fail(const QString &reason, bool cancelOther) {
    if (m_ended)
        return;
    m_ended = true;
    if (cancelOther)
        send(cancelSequence());
    Event event{Event::Kind::Failed};
    event.reason = reason;
    emitEvent(std::move(event));
}

} // namespace protocols
