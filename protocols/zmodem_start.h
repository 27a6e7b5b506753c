// Finds the start of a ZMODEM transfer in what a device sends to a terminal: "**", CAN, "B00"
// (the device's sz offers files: receive them) or "**", CAN, "B01" (the device's rz waits for
// files: send some). The sequence may be cut across any number of bursts.
#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <optional>

namespace protocols {

enum class ZmodemStart {
    Receive, // the device sends
    Send,    // the device receives
};

class ZmodemStartDetector {
public:
    // The start found in this burst, if any; the bytes before it are the terminal's.
    std::optional<ZmodemStart> feed(const char *data, qsizetype size);
    void reset() { m_matched = 0; }

private:
    int m_matched = 0; // bytes of "**\x18B0" matched so far
};

} // namespace protocols
