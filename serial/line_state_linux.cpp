#include "serial/line_state.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstring>
#include <utility>

namespace serial {

namespace {

static_assert(sizeof(termios2{}.c_cc) <= sizeof(LineState{}.cc));

LineState fromKernel(const termios2 &t) {
    LineState s;
    s.iflag = t.c_iflag;
    s.oflag = t.c_oflag;
    s.cflag = t.c_cflag;
    s.lflag = t.c_lflag;
    s.line = t.c_line;
    std::memcpy(s.cc.data(), t.c_cc, sizeof t.c_cc);
    s.ispeed = t.c_ispeed;
    s.ospeed = t.c_ospeed;
    return s;
}

termios2 toKernel(const LineState &s) {
    termios2 t{};
    t.c_iflag = s.iflag;
    t.c_oflag = s.oflag;
    t.c_cflag = s.cflag;
    t.c_lflag = s.lflag;
    t.c_line = s.line;
    std::memcpy(t.c_cc, s.cc.data(), sizeof t.c_cc);
    t.c_ispeed = s.ispeed;
    t.c_ospeed = s.ospeed;
    return t;
}

// Standard rates keep their classic codes, which every driver understands; others need BOTHER.
tcflag_t rateCode(std::uint32_t baud) {
    constexpr std::pair<std::uint32_t, tcflag_t> kRates[] = {
        {50, B50},           {75, B75},           {110, B110},         {150, B150},
        {200, B200},         {300, B300},         {600, B600},         {1200, B1200},
        {1800, B1800},       {2400, B2400},       {4800, B4800},       {9600, B9600},
        {19200, B19200},     {38400, B38400},     {57600, B57600},     {115200, B115200},
        {230400, B230400},   {460800, B460800},   {500000, B500000},   {576000, B576000},
        {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
        {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000},
        {4000000, B4000000}};
    for (const auto &[rate, code] : kRates) {
        if (rate == baud)
            return code;
    }
    return BOTHER;
}

void applyBaud(LineState &s, std::uint32_t baud) {
    if (baud == 0)
        return; // rate 0 would hang the line up
    // A cleared input code means "input at the output rate".
    s.cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    s.cflag |= rateCode(baud);
    s.ispeed = baud;
    s.ospeed = baud;
}

void applyDataBits(LineState &s, int index) {
    constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    if (index < 1 || index > 4)
        return; // index 0 ("4") has no counterpart
    s.cflag = (s.cflag & ~CSIZE) | kSizes[index - 1];
}

void applyStopBits(LineState &s, int index) {
    if (index == 0)
        s.cflag &= ~CSTOPB;
    else if (index == 2)
        s.cflag |= CSTOPB;
}

void applyParity(LineState &s, int index) {
    constexpr tcflag_t kModes[] = {PARENB, PARENB | CMSPAR | PARODD, 0, PARENB | PARODD,
                                   PARENB | CMSPAR};
    if (index < 0 || index > 4)
        return;
    s.cflag = (s.cflag & ~(PARENB | PARODD | CMSPAR)) | kModes[index];
    if (kModes[index] != 0)
        s.iflag |= INPCK;
    else
        s.iflag &= ~INPCK;
}

void applyFlow(LineState &s, int index) {
    if (index < 0 || index > 2)
        return;
    s.cflag &= ~CRTSCTS;
    s.iflag &= ~(IXON | IXOFF);
    if (index == 0)
        s.cflag |= CRTSCTS;
    else if (index == 1)
        s.iflag |= IXON | IXOFF;
}

} // namespace

LineState rawLineState(const LineState &current) {
    LineState s = current;
    s.iflag &=
        ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IXON | IXOFF | IXANY);
    s.oflag &= ~OPOST;
    s.lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    s.cflag &= ~(CSIZE | PARENB);
    s.cflag |= CS8 | CLOCAL | CREAD;
    s.cc[VMIN] = 0;
    s.cc[VTIME] = 0;
    return s;
}

LineState applyLineSettings(const LineState &current, const LineSettings &settings) {
    LineState s = current;
    applyBaud(s, settings.baud);
    applyDataBits(s, settings.dataBitsIndex);
    applyStopBits(s, settings.stopBitsIndex);
    applyParity(s, settings.parityIndex);
    applyFlow(s, settings.flowIndex);
    return s;
}

LineSettings lineSettingsOf(const LineState &s) {
    LineSettings settings;
    // An input rate other than the output rate is no rate the dialog can ask for.
    settings.baud = s.ispeed == s.ospeed || s.ispeed == 0 ? s.ospeed : 0;
    switch (s.cflag & CSIZE) {
    case CS5:
        settings.dataBitsIndex = 1;
        break;
    case CS6:
        settings.dataBitsIndex = 2;
        break;
    case CS7:
        settings.dataBitsIndex = 3;
        break;
    default:
        settings.dataBitsIndex = 4;
        break;
    }
    settings.stopBitsIndex = (s.cflag & CSTOPB) ? 2 : 0;
    const tcflag_t parity = s.cflag & (PARENB | PARODD | CMSPAR);
    constexpr tcflag_t kModes[] = {PARENB, PARENB | CMSPAR | PARODD, 0, PARENB | PARODD,
                                   PARENB | CMSPAR};
    for (int i = 0; i < 5; ++i) {
        if (kModes[i] == parity)
            settings.parityIndex = i;
    }
    const bool hardware = (s.cflag & CRTSCTS) != 0;
    const bool software = (s.iflag & (IXON | IXOFF)) == (IXON | IXOFF);
    if (hardware != software || (s.iflag & (IXON | IXOFF)) == 0)
        settings.flowIndex = hardware ? 0 : software ? 1 : 2;
    return settings;
}

std::optional<LineState> readLineState(int fd) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return std::nullopt;
    return fromKernel(t);
}

bool writeLineState(int fd, const LineState &state) {
    const termios2 t = toKernel(state);
    return ::ioctl(fd, TCSETS2, &t) == 0;
}

} // namespace serial
