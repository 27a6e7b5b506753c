// Everything a transfer opens the port with, and the one function that opens and configures a
// port from it. The window and the command line both open their ports through here.
#pragma once

#include "serial/line_state.h"
#include "serial/modem_lines.h"
#include "serial/port.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

namespace serial {

// The two profiles of a transfer. A send gets a write time-out from the baud rate; a capture
// never writes.
enum class PortProfile { Capture, Send };

struct PortConfig {
    QString portName; // as the user typed or picked it (see devicePath)
    LineSettings line;
    bool rs485 = false;
    PortProfile profile = PortProfile::Capture;
    // The levels the modem lines hold while the port is open: DTR raised unless asked
    // otherwise, RTS as the open leaves it (raised, on Linux) unless asked for.
    bool dtr = true;
    std::optional<bool> rts;
    // Applied by the transfer's worker once it starts, not by openPort: it is the start's
    // (not repeated when a device comes back), and a stop ends it early.
    std::optional<LinePulse> pulse;
};

struct OpenedPort {
    std::unique_ptr<Port> port; // null when the port could not be opened
    QString error;              // "Could not open port " + the name
    QString reason;             // why, in the system's words, for the command line
    bool rs485Refused = false;  // the driver refused RS485; the port is open all the same
    // The line settings the port kept instead of those asked for (see Port::configure).
    QStringList kept;
    // Milliseconds a send may take per byte (0: no write time-out); 0 for a capture.
    std::uint32_t writeMultiplier = 0;
    // A raw TCP port: the line settings were not sent, there is no line to set.
    bool lineSettingsNotSent = false;
    // The server answered none of the line settings: they are not known to be applied.
    bool lineSettingsUnconfirmed = false;
    // The port has no modem lines to set (a pty): DTR and RTS stay as they are.
    bool noModemLines = false;
    explicit operator bool() const { return port != nullptr; }
    // Everything but the port, for a caller that keeps the port itself.
    OpenedPort details() const {
        OpenedPort copy;
        copy.error = error;
        copy.reason = reason;
        copy.rs485Refused = rs485Refused;
        copy.kept = kept;
        copy.writeMultiplier = writeMultiplier;
        copy.lineSettingsNotSent = lineSettingsNotSent;
        copy.lineSettingsUnconfirmed = lineSettingsUnconfirmed;
        copy.noModemLines = noModemLines;
        return copy;
    }
};

// Opens the port exclusively and configures it, in this order: drop both queues, the levels of
// DTR and RTS, the line settings, RS485 when asked for. What the driver refuses of the line
// settings keeps the port's own value; the transfer goes on with it. The name picks the port:
// "rfc2217://HOST:PORT" and "tcp://HOST:PORT" a serial server across the network
// (serial/network_address.h), anything else a local one. Every wait of the open is bounded (a
// network open takes at most kNetworkOpenBound to connect and about a second more for the
// server's answers); it ends early when `running` (if given) drops, and an open cut short so
// fails ("Operation canceled"), as does one whose server hung up before it was configured.
OpenedPort openPort(const PortConfig &config, const std::atomic<bool> *running = nullptr);
inline constexpr std::chrono::milliseconds kNetworkOpenBound{5000};

} // namespace serial
