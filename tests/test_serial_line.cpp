// The termios rules of the line settings, checked on the kernel's own flag values. This file
// uses <asm/termbits.h>, so it must not see <termios.h>.
#include "serial/line_state.h"

#include <asm/termbits.h>
#include <gtest/gtest.h>

using serial::LineSettings;
using serial::LineState;

namespace {

// A port as a driver might hand it over: 9600 8N1, cooked, XON/XOFF on.
LineState freshPort() {
    LineState s;
    s.cflag = B9600 | CS8 | CREAD | CLOCAL | HUPCL;
    s.iflag = ICRNL | IXON | IXOFF | IMAXBEL;
    s.oflag = OPOST | ONLCR;
    s.lflag = ICANON | ECHO | ISIG | IEXTEN;
    s.cc[VMIN] = 1;
    s.cc[VTIME] = 5;
    s.ispeed = s.ospeed = 9600;
    return s;
}

LineState apply(const LineState &from, LineSettings settings) {
    return serial::applyLineSettings(from, settings);
}

} // namespace

TEST(SerialLineState, NoSelectionChangesNothing) {
    const LineState port = freshPort();
    EXPECT_EQ(apply(port, {}), port);
    EXPECT_EQ(
        apply(port, {.dataBitsIndex = 5, .stopBitsIndex = 3, .parityIndex = 5, .flowIndex = 3}),
        port);
}

TEST(SerialLineState, EveryParity) {
    struct Case {
        int index;
        tcflag_t cflag;
        bool checked;
    };
    const Case cases[] = {{0, PARENB, true},
                          {1, PARENB | PARODD | CMSPAR, true},
                          {2, 0, false},
                          {3, PARENB | PARODD, true},
                          {4, PARENB | CMSPAR, true}};
    for (const LineState &start : {freshPort(), apply(freshPort(), {.parityIndex = 1})}) {
        for (const Case &c : cases) {
            const LineState s = apply(start, {.parityIndex = c.index});
            EXPECT_EQ(s.cflag & (PARENB | PARODD | CMSPAR), c.cflag) << c.index;
            EXPECT_EQ((s.iflag & INPCK) != 0, c.checked) << c.index;
            EXPECT_EQ(s.cflag & CSIZE, CS8) << c.index;
        }
    }
}

TEST(SerialLineState, DataBitsFiveToEightAndFourKept) {
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    for (int index = 1; index <= 4; ++index)
        EXPECT_EQ(apply(freshPort(), {.dataBitsIndex = index}).cflag & CSIZE, sizes[index - 1]);
    const LineState seven = apply(freshPort(), {.dataBitsIndex = 3});
    EXPECT_EQ(apply(seven, {.dataBitsIndex = 0}).cflag & CSIZE, CS7);
}

TEST(SerialLineState, StopBitsOneAndTwoAndOneAndAHalfKept) {
    const LineState two = apply(freshPort(), {.stopBitsIndex = 2});
    EXPECT_TRUE(two.cflag & CSTOPB);
    EXPECT_FALSE(apply(two, {.stopBitsIndex = 0}).cflag & CSTOPB);
    EXPECT_TRUE(apply(two, {.stopBitsIndex = 1}).cflag & CSTOPB);
    EXPECT_FALSE(apply(freshPort(), {.stopBitsIndex = 1}).cflag & CSTOPB);
}

TEST(SerialLineState, EachFlowControl) {
    struct Case {
        int index;
        bool rtsCts;
        tcflag_t xonXoff;
    };
    const Case cases[] = {{0, true, 0}, {1, false, IXON | IXOFF}, {2, false, 0}};
    const LineState hardware = apply(freshPort(), {.flowIndex = 0});
    for (const LineState &start : {freshPort(), hardware}) {
        for (const Case &c : cases) {
            const LineState s = apply(start, {.flowIndex = c.index});
            EXPECT_EQ((s.cflag & CRTSCTS) != 0, c.rtsCts) << c.index;
            EXPECT_EQ(s.iflag & (IXON | IXOFF), c.xonXoff) << c.index;
        }
    }
}

TEST(SerialLineState, BaudRates) {
    const LineState zero = apply(freshPort(), {.baud = 0});
    EXPECT_EQ(zero.cflag & CBAUD, B9600);
    EXPECT_EQ(zero.ospeed, 9600u);

    const LineState standard = apply(freshPort(), {.baud = 115200});
    EXPECT_EQ(standard.cflag & CBAUD, B115200);
    EXPECT_EQ(standard.ospeed, 115200u);

    for (const std::uint32_t rate : {14400u, 56000u, 153600u, 691200u, 750000u, 768000u}) {
        LineState start = freshPort();
        start.cflag |= B4800 << IBSHIFT; // a separate input rate must not survive
        const LineState s = apply(start, {.baud = rate});
        EXPECT_EQ(s.cflag & CBAUD, BOTHER) << rate;
        EXPECT_EQ(s.cflag & (CBAUD << IBSHIFT), 0u) << rate;
        EXPECT_EQ(s.ispeed, rate);
        EXPECT_EQ(s.ospeed, rate);
    }
}

TEST(SerialLineState, MixedSettingsTouchOnlyTheirBits) {
    const LineState s = apply(
        freshPort(),
        {.baud = 9600, .dataBitsIndex = 3, .stopBitsIndex = 1, .parityIndex = 0, .flowIndex = 2});
    EXPECT_EQ(s.cflag & CSIZE, CS7);
    EXPECT_EQ(s.cflag & (PARENB | PARODD | CMSPAR), PARENB);
    EXPECT_FALSE(s.cflag & (CSTOPB | CRTSCTS));
    EXPECT_EQ(s.iflag & (INPCK | IXON | IXOFF), INPCK);
    EXPECT_EQ(s.cflag & (CREAD | CLOCAL | HUPCL), CREAD | CLOCAL | HUPCL);
    EXPECT_EQ(s.lflag, freshPort().lflag);
}

TEST(SerialLineState, RawPassesEveryByte) {
    LineState cooked = apply(freshPort(), {.dataBitsIndex = 3, .parityIndex = 0});
    cooked.cflag &= ~(CREAD | CLOCAL);
    cooked.iflag |= ISTRIP | INLCR | IGNCR | BRKINT | PARMRK | IXANY | IUCLC;
    const LineState raw = serial::rawLineState(cooked);
    EXPECT_EQ(raw.iflag &
                  (ISTRIP | INLCR | IGNCR | ICRNL | BRKINT | PARMRK | IXON | IXOFF | IXANY | IUCLC),
              0u);
    EXPECT_FALSE(raw.oflag & OPOST);
    EXPECT_EQ(raw.lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(raw.cflag & (CSIZE | PARENB | CREAD | CLOCAL), CS8 | CREAD | CLOCAL);
    EXPECT_EQ(raw.cc[VMIN], 0);
    EXPECT_EQ(raw.cc[VTIME], 0);
    EXPECT_EQ(raw.ospeed, cooked.ospeed);
    EXPECT_EQ(raw.cflag & CBAUD, B9600);
}

TEST(SerialLineState, KeptSettingsNameWhatThePortKeptOfWhatWasAskedFor) {
    const serial::LineSettings asked{.baud = 691200, .dataBitsIndex = 3, .parityIndex = 3};
    const LineState wanted = apply(freshPort(), asked);
    LineState actual = wanted;
    actual.lflag = 0;
    actual.cflag ^= HUPCL;
    EXPECT_EQ(serial::keptSettings(asked, actual), QStringList());

    LineState forced = wanted; // what a pty does: 8 bits, no parity
    forced.cflag = (forced.cflag & ~(CSIZE | PARENB | PARODD)) | CS8;
    EXPECT_EQ(serial::keptSettings(asked, forced),
              QStringList({"data bits 8 instead of 7", "parity none instead of odd"}));

    LineState slower = wanted;
    slower.ospeed = slower.ispeed = 614400;
    EXPECT_EQ(serial::keptSettings(asked, slower),
              QStringList({"baud rate 614400 instead of 691200"}));

    // What the platform cannot set is kept, and said so; what was not asked for is not looked at.
    const serial::LineSettings impossible{.dataBitsIndex = 0, .stopBitsIndex = 1, .flowIndex = 1};
    EXPECT_EQ(serial::keptSettings(impossible, apply(freshPort(), {.flowIndex = 2})),
              QStringList({"data bits 8 instead of 4", "stop bits 1 instead of 1.5",
                           "flow control none instead of software"}));
}
