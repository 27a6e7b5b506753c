#include "serial/port_config.h"

#include "serial/baud.h"
#include "serial/open_failure.h"
#include "serial/serial_port.h"

namespace serial {

OpenedPort openPort(const PortConfig &config, const std::atomic<bool> *running) {
    (void)running; // a local open never waits
    OpenedPort opened;
    auto port = std::make_unique<SerialPort>();
    if (!port->open(config.portName)) {
        opened.error = QStringLiteral("Could not open port ") + config.portName;
        opened.reason =
            openFailureReason(devicePath(config.portName), port->openError(), lockDirectories());
        return opened;
    }
    port->purge();
    // A rate of 0 (text without leading digits) keeps the port's rate and gives a send no
    // write time-out, instead of dividing by it.
    if (config.profile == PortProfile::Send)
        opened.writeMultiplier = writeTimeoutMultiplier(config.line.baud);
    opened.noModemLines = !port->setDtr(config.dtr);
    if (config.rts && !port->setRts(*config.rts))
        opened.noModemLines = true;
    opened.kept = port->configure(config.line);
    opened.rs485Refused = config.rs485 && !port->enableRs485();
    opened.port = std::move(port);
    return opened;
}

} // namespace serial
