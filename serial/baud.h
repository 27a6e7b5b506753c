// The baud-rate text of the dialog and the write time-out derived from it.
#pragma once

#include <QString>
#include <QtGlobal>
#include <chrono>
#include <cstdint>
#include <optional>

namespace serial {

// The value of the leading decimal digits; text that does not start with one gives 0. Values
// beyond 32 bits saturate.
std::uint32_t baudFromText(const QString &text);

// Milliseconds per byte a write may take: 19200 / baud (2 at 9600, 0 above 19200). A baud rate
// of 0 gives 0, that is no write time-out.
std::uint32_t writeTimeoutMultiplier(std::uint32_t baud);

// The time-out of a write of `bytes` bytes; none when the multiplier is 0.
std::optional<std::chrono::milliseconds> writeTimeout(std::uint32_t multiplier, qint64 bytes);

} // namespace serial
