// The rules of the cell editor over one hex line's text, without widgets: where the 48 cells
// stand, what typing into a cell does to the line, and where the caret goes next.
//
// Cells 0..31 are the hex digits (cell 2j the high digit of byte j, 2j + 1 its low digit),
// cells 32..47 the ASCII characters (cell 32 + j belongs to byte j).
#pragma once

#include <QString>

#include <array>
#include <cstdint>

namespace celllogic {

inline constexpr int kCellCount = 48;
inline constexpr int kDigitCells = 32;
inline constexpr int kLastDigitCell = kDigitCells - 1;
inline constexpr int kFirstAsciiCell = kDigitCells;
inline constexpr int kLastAsciiCell = kCellCount - 1;

// The text column of every cell.
using ColumnTable = std::array<std::uint8_t, kCellCount>;
ColumnTable columnTable();

constexpr bool isAsciiCell(int cell) {
    return cell >= kFirstAsciiCell;
}
constexpr int byteOfCell(int cell) {
    return isAsciiCell(cell) ? cell - kFirstAsciiCell : cell / 2;
}

// The cell at a text column, or -1 for the label, the separators and anything past the line.
int cellAtColumn(int column);

// The value of byte j as its two digit positions stand, a blank (or a missing character)
// included: each position counts its code minus 55 above "9", else minus 48; modulo 256.
std::uint8_t byteValue(const QString &text, int byteIndex);

// True when one of the 32 digit positions holds a blank (or lies past the end of the text).
bool hasBlankDigit(const QString &text);

// Overwrites the digit at a hex cell with ch (lower case made upper) and rewrites the byte's
// ASCII character. False, with the text unchanged, for anything but a hex digit.
bool typeHexDigit(QString &text, int cell, QChar ch);

// Writes the byte `code` at an ASCII cell: its two digits and its ASCII character.
void typeAsciiChar(QString &text, int cell, std::uint8_t code);

// Where the caret goes: to a cell of this line, one line up or down (to `cell` there), or
// nowhere.
struct Step {
    enum Kind { Stay, Cell, LineUp, LineDown } kind = Stay;
    int cell = 0;
};

enum class NavKey { Tab, Left, Right, Up, Down, Home, End };

Step navigate(int cell, NavKey key);

// The step after a character was taken at `cell`.
Step advance(int cell);

} // namespace celllogic
