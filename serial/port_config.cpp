#include "serial/port_config.h"

#include "serial/baud.h"
#include "serial/network_port.h"
#include "serial/open_failure.h"
#include "serial/serial_port.h"

#include <cerrno>
#include <cstring>

namespace serial {

namespace {

OpenedPort failed(const PortConfig &config, const QString &reason) {
    OpenedPort opened;
    opened.error = QStringLiteral("Could not open port ") + config.portName;
    opened.reason = reason;
    return opened;
}

// How long a raw TCP port is watched after its open for a server that hangs up at once (its
// device is missing); RFC 2217's wait for the answers to the line settings shows that already.
constexpr std::chrono::milliseconds kRawHangUpWait(250);

// Why a network open that returned must count as failed: the run flag dropped during it (the
// caller is ending), or the server hung up during the configuration. Empty when it stands.
QString networkOpenFailure(NetworkPort &port, const std::atomic<bool> *running) {
    if (running && !running->load())
        return QString::fromLocal8Bit(std::strerror(ECANCELED));
    return port.endedAtOpen(port.sendsLineSettings() ? std::chrono::milliseconds(0)
                                                     : kRawHangUpWait);
}

// The steps after the open, the same for every kind of port.
template <class Opened>
OpenedPort configured(std::unique_ptr<Opened> port, const PortConfig &config,
                      const std::atomic<bool> *running) {
    OpenedPort opened;
    port->purge();
    // A rate of 0 (text without leading digits) keeps the port's rate and gives a send no
    // write time-out, instead of dividing by it.
    if (config.profile == PortProfile::Send)
        opened.writeMultiplier = writeTimeoutMultiplier(config.line.baud);
    opened.noModemLines = !port->setDtr(config.dtr);
    if (config.rts && !port->setRts(*config.rts))
        opened.noModemLines = true;
    if constexpr (std::is_same_v<Opened, NetworkPort>) {
        opened.kept = port->configure(config.line, running);
        if (const QString failure = networkOpenFailure(*port, running); !failure.isEmpty())
            return failed(config, failure);
        opened.lineSettingsNotSent = !port->sendsLineSettings();
        opened.lineSettingsUnconfirmed = port->settingsUnconfirmed();
    } else {
        (void)running; // a local open never waits
        opened.kept = port->configure(config.line);
    }
    opened.rs485Refused = config.rs485 && !port->enableRs485();
    opened.port = std::move(port);
    return opened;
}

} // namespace

OpenedPort openPort(const PortConfig &config, const std::atomic<bool> *running) {
    if (const std::optional<NetworkAddress> address = networkAddress(config.portName)) {
        auto port = std::make_unique<NetworkPort>();
        if (!port->open(*address, kNetworkOpenBound, running))
            return failed(config, port->openError());
        return configured(std::move(port), config, running);
    }
    auto port = std::make_unique<SerialPort>();
    if (!port->open(config.portName))
        return failed(config, openFailureReason(devicePath(config.portName), port->openError(),
                                                lockDirectories()));
    return configured(std::move(port), config, running);
}

} // namespace serial
