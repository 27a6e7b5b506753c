// The line state of a terminal and the pure rules that turn the dialog's line settings into it.
// The kernel's struct termios2 cannot share a translation unit with <termios.h>, so it is
// mirrored here as plain fields and converted in one place (line_state_linux.cpp).
#pragma once

#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>

namespace serial {

struct LineState {
    std::uint32_t iflag = 0;
    std::uint32_t oflag = 0;
    std::uint32_t cflag = 0;
    std::uint32_t lflag = 0;
    std::uint8_t line = 0;
    std::array<std::uint8_t, 32> cc{};
    std::uint32_t ispeed = 0;
    std::uint32_t ospeed = 0;
    bool operator==(const LineState &) const = default;
};

// The line parameters as the dialog's combo boxes hold them. An index of -1 (no selection) and
// a baud rate of 0 keep the port's current value.
struct LineSettings {
    std::uint32_t baud = 0;
    int dataBitsIndex = -1; // "4", "5", "6", "7", "8"
    int stopBitsIndex = -1; // "1", "1.5", "2"
    int parityIndex = -1;   // "Even", "Mark", "None", "Odd", "Space"
    int flowIndex = -1;     // "Hardware", "Software", "None"
};

// Raw mode: every byte value passes unchanged, reads never wait (VMIN = VTIME = 0).
LineState rawLineState(const LineState &current);

// What the platform cannot do (4 data bits, 1.5 stop bits) keeps the current value.
LineState applyLineSettings(const LineState &current, const LineSettings &settings);

// The settings a line state holds, as indices of the dialog's lists; -1 where it holds none of
// them (never 4 data bits or 1.5 stop bits, which the platform cannot set).
LineSettings lineSettingsOf(const LineState &state);

// What a port kept of the settings asked for, one text each ("data bits 8 instead of 7"),
// comparing only what was asked for: a driver may accept a request and still keep its own
// values (a pty forces 8 bits, no parity).
QStringList keptSettings(const LineSettings &asked, const LineSettings &kept);
inline QStringList keptSettings(const LineSettings &asked, const LineState &actual) {
    return keptSettings(asked, lineSettingsOf(actual));
}

// TCGETS2 / TCSETS2 on an open terminal.
std::optional<LineState> readLineState(int fd);
bool writeLineState(int fd, const LineState &state);

} // namespace serial
