#include "serial/modem_lines.h"

#include "serial/port_config.h"

#include <algorithm>
#include <thread>

namespace serial {

namespace {

// The run flag is looked at this often during a pulse.
constexpr std::chrono::milliseconds kPulseSlice{20};

} // namespace

bool setModemLine(Port &port, ModemLine line, bool on) {
    return line == ModemLine::Dtr ? port.setDtr(on) : port.setRts(on);
}

void startLines(Port &port, const PortConfig &config, const std::atomic<bool> &running) {
    if (config.dtr)
        port.setDtr(true);
    if (config.pulse)
        pulseLine(port, *config.pulse, running);
}

bool pulseLine(Port &port, const LinePulse &pulse, const std::atomic<bool> &running) {
    if (!setModemLine(port, pulse.line, false))
        return false;
    const auto end = std::chrono::steady_clock::now() + std::min(pulse.length, kLongestPulse);
    for (auto now = std::chrono::steady_clock::now(); now < end && running.load();
         now = std::chrono::steady_clock::now())
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(end - now, kPulseSlice));
    // A transfer stopped during the pulse lowers DTR at its end: raising it in between would
    // give the board a second reset.
    if (!running.load() && pulse.line == ModemLine::Dtr)
        return true;
    return setModemLine(port, pulse.line, true);
}

} // namespace serial
