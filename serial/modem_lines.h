// The modem lines a transfer holds while its port is open, and the pulse that resets a board:
// one line dropped for a moment after the open, before anything is sent or captured.
#pragma once

#include "serial/port.h"

#include <atomic>
#include <chrono>

namespace serial {

enum class ModemLine { Dtr, Rts };

struct LinePulse {
    ModemLine line = ModemLine::Dtr;
    std::chrono::milliseconds length{0};
};

// The longest pulse: a reset, not a way to hold a line down.
inline constexpr std::chrono::milliseconds kLongestPulse{10000};

bool setModemLine(Port &port, ModemLine line, bool on);

struct PortConfig;
// A worker's first step on its port: DTR raised unless the config holds it low, then the
// config's pulse, if any.
void startLines(Port &port, const PortConfig &config, const std::atomic<bool> &running);

// Drops the line for the pulse's length, then raises it again; the wait ends early once
// `running` drops, and DTR then stays low (the transfer's end lowers it). False, without a wait,
// when the port has no such line (a pty).
bool pulseLine(Port &port, const LinePulse &pulse, const std::atomic<bool> &running);

} // namespace serial
