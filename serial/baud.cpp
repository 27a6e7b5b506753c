#include "serial/baud.h"

#include <limits>

namespace serial {

std::uint32_t baudFromText(const QString &text) {
    constexpr std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();
    std::uint32_t value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            break;
        const std::uint32_t digit = c.unicode() - u'0';
        if (value > (kMax - digit) / 10)
            return kMax;
        value = value * 10 + digit;
    }
    return value;
}

std::uint32_t writeTimeoutMultiplier(std::uint32_t baud) {
    return baud == 0 ? 0 : 19200 / baud;
}

std::optional<std::chrono::milliseconds> writeTimeout(std::uint32_t multiplier, qint64 bytes) {
    using std::chrono::milliseconds;
    if (multiplier == 0)
        return std::nullopt;
    if (bytes <= 0)
        return milliseconds(0);
    if (bytes > milliseconds::max().count() / multiplier)
        return milliseconds::max();
    return milliseconds(bytes * multiplier);
}

} // namespace serial
