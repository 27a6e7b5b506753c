// The hex line: the text form of up to 16 bytes that the loader library writes into the
// editor's list and that every editor operation reads back and rewrites.
//
//   columns 0-4   label: the line's index as "%04X" followed by "0" (the file offset)
//   columns 5-6   two blanks
//   columns 7-56  16 byte cells "%02X" in four groups of four; byte j has its high digit
//                 at column 7 + 3j + j/4
//   columns 57-58 two blanks
//   column 59 on  one ASCII character per byte shown (0x20..0x7E as is, else ".")
//
// A line of k bytes keeps the same columns: its hex part is padded to 59 characters, so it
// is 59 + k characters long; a full line is 75.
#pragma once

#include <QString>
#include <cstdint>

namespace hexline {

inline constexpr int kBytesPerLine = 16;
inline constexpr int kHexPartLength = 59;
inline constexpr int kAsciiColumn = 59;
inline constexpr int kFullLength = kHexPartLength + kBytesPerLine; // 75
inline constexpr int kLabelLength = 5;
inline constexpr int kHexAreaFirst = 6; // the hex area that the search looks at: 6..58
inline constexpr int kHexAreaLength = 53;
// The loader shows at most this many bytes (0x7FE00), that is 32,736 full lines.
inline constexpr int kLoaderByteLimit = 0x7FE00;
inline constexpr int kLoaderLineLimit = kLoaderByteLimit / kBytesPerLine;
// The highest offset the range dialog accepts and the cap of an editor send (0x7FD10).
inline constexpr int kRangeLimit = 0x7FD10;

constexpr int highDigitColumn(int byteIndex) {
    return 7 + 3 * byteIndex + byteIndex / 4;
}
constexpr int asciiColumn(int byteIndex) {
    return kAsciiColumn + byteIndex;
}
constexpr char16_t asciiFor(std::uint8_t b) {
    return (b >= 0x20 && b <= 0x7E) ? b : u'.';
}

// Writes the label of a line ("%04X0") for the given line count.
QString label(int lineCount);

// Writes the line for `count` bytes (1..16) with the given label into `out`, which must have
// room for 59 + count characters (and more when the label needs over four digits: the label
// is "at least four digits"). Returns the number of characters written.
int formatLine(char16_t *out, int lineCount, const std::uint8_t *bytes, int count);
QString formatLine(int lineCount, const std::uint8_t *bytes, int count);

// Writes what follows the label of a line of `count` bytes (1..16): columns 5 on, the byte
// cells padded to the ASCII part and the ASCII characters, 54 + count characters into `out`.
// For text listings.
int formatCells(char *out, const std::uint8_t *bytes, int count);

// Overwrites the four label digits of a line already formatted (count must be <= 0xFFFF).
void setLabelDigits(char16_t *line, int lineCount);

// "%04X0" of the line count followed by 70 blanks: 16 blank cells and a blank ASCII part.
QString blankLine(int lineCount);

} // namespace hexline
