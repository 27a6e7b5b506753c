// Everything a transfer opens the port with, and the one function that opens and configures a
// port from it. The window and the command line both open their ports through here.
#pragma once

#include "serial/line_state.h"
#include "serial/serial_port.h"

#include <QString>
#include <cstdint>
#include <memory>

namespace serial {

// The two profiles of a transfer. A send gets a write time-out from the baud rate; a capture
// never writes.
enum class PortProfile { Capture, Send };

struct PortConfig {
    QString portName; // as the user typed or picked it (see devicePath)
    LineSettings line;
    bool rs485 = false;
    PortProfile profile = PortProfile::Capture;
};

struct OpenedPort {
    std::unique_ptr<SerialPort> port; // null when the port could not be opened
    QString error;                    // "Could not open port " + the name
    bool rs485Refused = false;        // the driver refused RS485; the port is open all the same
    // Milliseconds a send may take per byte (0: no write time-out); 0 for a capture.
    std::uint32_t writeMultiplier = 0;
    explicit operator bool() const { return port != nullptr; }
};

// Opens the port exclusively and configures it, in this order: drop both queues, raise DTR,
// the line settings, RS485 when asked for. What the driver refuses of the line settings keeps
// the port's own value; the transfer goes on with it.
OpenedPort openPort(const PortConfig &config);

} // namespace serial
