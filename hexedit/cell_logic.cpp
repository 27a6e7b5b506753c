#include "hexedit/cell_logic.h"

#include "loader/hexline.h"

namespace celllogic {

namespace {

// Writes c at column, padding with blanks when the text ends before it, so that every
// character keeps the column the line format gives it.
void putAt(QString &text, int column, QChar c) {
    if (column >= text.size())
        text.append(QString(column - text.size(), u' ')).append(c);
    else
        text[column] = c;
}

int digitValue(const QString &text, int column) {
    const int code = column < text.size() ? text.at(column).unicode() : ' ';
    return code > '9' ? code - 55 : code - 48;
}

QChar hexDigit(int value) {
    return QChar(u"0123456789ABCDEF"[value & 0xF]);
}

bool isHexDigit(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

} // namespace

ColumnTable columnTable() {
    ColumnTable table{};
    for (int j = 0; j < hexline::kBytesPerLine; ++j) {
        table[2 * j] = static_cast<std::uint8_t>(hexline::highDigitColumn(j));
        table[2 * j + 1] = static_cast<std::uint8_t>(hexline::highDigitColumn(j) + 1);
        table[kFirstAsciiCell + j] = static_cast<std::uint8_t>(hexline::asciiColumn(j));
    }
    return table;
}

int cellAtColumn(int column) {
    static const ColumnTable table = columnTable();
    for (int cell = 0; cell < kCellCount; ++cell)
        if (table[cell] == column)
            return cell;
    return -1;
}

std::uint8_t byteValue(const QString &text, int byteIndex) {
    const int column = hexline::highDigitColumn(byteIndex);
    const int value = 16 * digitValue(text, column) + digitValue(text, column + 1);
    return static_cast<std::uint8_t>(((value % 256) + 256) % 256);
}

bool hasBlankDigit(const QString &text) {
    for (int j = 0; j < hexline::kBytesPerLine; ++j) {
        const int column = hexline::highDigitColumn(j);
        for (int c : {column, column + 1})
            if (c >= text.size() || text.at(c) == u' ')
                return true;
    }
    return false;
}

bool typeHexDigit(QString &text, int cell, QChar ch) {
    if (isAsciiCell(cell) || !isHexDigit(ch))
        return false;
    const int byteIndex = byteOfCell(cell);
    putAt(text, hexline::highDigitColumn(byteIndex) + cell % 2, ch.toUpper());
    putAt(text, hexline::asciiColumn(byteIndex),
          QChar(hexline::asciiFor(byteValue(text, byteIndex))));
    return true;
}

void typeAsciiChar(QString &text, int cell, std::uint8_t code) {
    const int byteIndex = byteOfCell(cell);
    const int column = hexline::highDigitColumn(byteIndex);
    putAt(text, column, hexDigit(code >> 4));
    putAt(text, column + 1, hexDigit(code));
    putAt(text, hexline::asciiColumn(byteIndex), QChar(hexline::asciiFor(code)));
}

Step navigate(int cell, NavKey key) {
    const bool ascii = isAsciiCell(cell);
    const int first = ascii ? kFirstAsciiCell : 0;
    const int last = ascii ? kLastAsciiCell : kLastDigitCell;
    switch (key) {
    case NavKey::Tab:
        return {Step::Cell, ascii ? 0 : kFirstAsciiCell};
    case NavKey::Left:
        return cell == first ? Step{Step::LineUp, last} : Step{Step::Cell, cell - 1};
    case NavKey::Right:
        return cell == last ? Step{Step::LineDown, first} : Step{Step::Cell, cell + 1};
    case NavKey::Up:
        return {Step::LineUp, cell};
    case NavKey::Down:
        return {Step::LineDown, cell};
    case NavKey::Home:
    case NavKey::End:
        break;
    }
    return {Step::Stay, cell};
}

Step advance(int cell) {
    return navigate(cell, NavKey::Right);
}

} // namespace celllogic
