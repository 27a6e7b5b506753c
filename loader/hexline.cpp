#include "loader/hexline.h"

#include <cstring>

namespace hexline {
namespace {

constexpr char16_t kDigits[] = u"0123456789ABCDEF";

int writeLabel(char16_t *out, int lineCount) {
    // "%04X": at least four digits, more when the count needs them.
    unsigned value = static_cast<unsigned>(lineCount);
    int digits = 4;
    while (digits < 8 && (value >> (4 * digits)) != 0)
        ++digits;
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = kDigits[value & 0xF];
        value >>= 4;
    }
    out[digits] = u'0';
    return digits + 1;
}

} // namespace

QString label(int lineCount) {
    char16_t buf[9];
    const int n = writeLabel(buf, lineCount);
    return QString(reinterpret_cast<const QChar *>(buf), n);
}

void setLabelDigits(char16_t *line, int lineCount) {
    unsigned value = static_cast<unsigned>(lineCount);
    for (int i = 3; i >= 0; --i) {
        line[i] = kDigits[value & 0xF];
        value >>= 4;
    }
}

int formatLine(char16_t *out, int lineCount, const std::uint8_t *bytes, int count) {
    const int labelLength = writeLabel(out, lineCount);
    char16_t *line = out + labelLength - kLabelLength; // columns are counted from here
    for (int c = kLabelLength; c < kHexPartLength; ++c)
        line[c] = u' ';
    for (int j = 0; j < count; ++j) {
        const int col = highDigitColumn(j);
        line[col] = kDigits[bytes[j] >> 4];
        line[col + 1] = kDigits[bytes[j] & 0xF];
        line[kAsciiColumn + j] = asciiFor(bytes[j]);
    }
    return labelLength - kLabelLength + kHexPartLength + count;
}

QString formatLine(int lineCount, const std::uint8_t *bytes, int count) {
    char16_t buf[kFullLength + 8];
    const int n = formatLine(buf, lineCount, bytes, count);
    return QString(reinterpret_cast<const QChar *>(buf), n);
}

QString blankLine(int lineCount) {
    return label(lineCount) + QString(kFullLength - kLabelLength, u' ');
}

} // namespace hexline
