#include "hexedit/range_logic.h"

#include "loader/hexline.h"

#include <algorithm>
#include <limits>

int ParseHexOffset(const QString &text) {
    // Once the sum is this far from 0, the remaining digits (each at most 0xFFFF away from 0)
    // can only move it further out, so it may be held there without changing the outcome.
    constexpr qint64 kFar = qint64(1) << 40;
    qint64 value = 0;
    for (QChar c : text) {
        const int digit = c >= u'A' ? c.unicode() - 55 : c.unicode() - 48;
        value = std::clamp<qint64>(value * 16 + digit, -kFar, kFar);
    }
    return int(std::clamp<qint64>(value, std::numeric_limits<int>::min(),
                                  std::numeric_limits<int>::max()));
}

bool inRejectionSet(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 0x21 && u <= 0x2F) || (u >= 0x3A && u <= 0x40) || (u >= 0x5B && u <= 0x60) ||
           (u >= 0x7B && u <= 0x7E) || (u >= u'G' && u <= u'Z');
}

bool acceptRangeField(const QString &text) {
    const bool hexOnly = std::all_of(text.begin(), text.end(), [](QChar c) {
        return !inRejectionSet(c) && ((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'));
    });
    if (!hexOnly)
        return false;
    const int value = ParseHexOffset(text);
    return text.isEmpty() || (value >= 0 && value <= hexline::kRangeLimit);
}
