// Hex lines for the editor logic tests, made by the loader's own formatter.
#pragma once

#include "loader/hexline.h"

#include <QStringList>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace logictest {

inline QString line(int index, std::initializer_list<std::uint8_t> bytes) {
    const std::vector<std::uint8_t> v(bytes);
    return hexline::formatLine(index, v.data(), int(v.size()));
}

// A full line of 16 bytes first, first + 1, ...
inline QString countingLine(int index, std::uint8_t first) {
    std::vector<std::uint8_t> v;
    for (int j = 0; j < hexline::kBytesPerLine; ++j)
        v.push_back(std::uint8_t(first + j));
    return hexline::formatLine(index, v.data(), int(v.size()));
}

// Blanks the two digits of byte j, as the cell editor leaves a cleared cell.
inline QString blankCell(QString text, int j) {
    text[hexline::highDigitColumn(j)] = u' ';
    text[hexline::highDigitColumn(j) + 1] = u' ';
    return text;
}

} // namespace logictest
