// What the window has stored that the command line takes as its defaults, read once, so that
// the functions that turn arguments into a transfer's settings stay pure.
#pragma once

#include <QString>
#include <optional>

namespace cli {

// None where the window stored nothing.
struct Stored {
    std::optional<QString> baud;
    std::optional<QString> dataBits;
    std::optional<QString> stopBits;
    std::optional<QString> parity;
    std::optional<QString> flow;
    std::optional<QString> delay;
    std::optional<QString> captureFile;
    std::optional<QString> dropDirectory;
    std::optional<bool> mode2;
    std::optional<bool> arrivalTimes; // the window's "Record arrival times"
};

// Nothing when there is no store yet or it cannot be read, as the window starts then.
Stored readStored();

// The capture file name the window (and the next capture) starts with. A store that cannot
// be written is left alone.
void storeCaptureFile(const QString &name);

} // namespace cli
