// The cell editor's rules over a line text: cell columns, typing and caret steps.
#include "hexedit/cell_logic.h"
#include "loader/hexline.h"

#include <gtest/gtest.h>

using namespace celllogic;

namespace {

QString blank() {
    return hexline::blankLine(0);
}

TEST(CellLogic, ColumnTableAndItsInverse) {
    const std::uint8_t expected[kCellCount] = {7,  8,  10, 11, 13, 14, 16, 17, 20, 21, 23, 24,
                                               26, 27, 29, 30, 33, 34, 36, 37, 39, 40, 42, 43,
                                               46, 47, 49, 50, 52, 53, 55, 56, 59, 60, 61, 62,
                                               63, 64, 65, 66, 67, 68, 69, 70, 71, 72, 73, 74};
    const ColumnTable table = columnTable();
    for (int cell = 0; cell < kCellCount; ++cell) {
        EXPECT_EQ(table[cell], expected[cell]) << "cell " << cell;
        EXPECT_EQ(cellAtColumn(expected[cell]), cell);
    }
    // The label, the separators and what lies past a full line are no cells.
    for (int column : {0, 4, 5, 6, 9, 12, 18, 19, 31, 32, 44, 45, 54, 57, 58, 75, 255})
        EXPECT_EQ(cellAtColumn(column), -1) << "column " << column;
}

TEST(CellLogic, ByteValueCountsBlanksByTheDigitRule) {
    QString line = blank();
    EXPECT_EQ(byteValue(line, 0), 0xF0); // 16 * -16 + -16 = -272, modulo 256
    line[7] = u'4';
    EXPECT_EQ(byteValue(line, 0), 0x30);
    line[7] = u' ';
    line[8] = u'4';
    EXPECT_EQ(byteValue(line, 0), 0x04);
    line[7] = u'F';
    line[8] = u'F';
    EXPECT_EQ(byteValue(line, 0), 0xFF);
    // Past the end of a short text a position counts as a blank.
    EXPECT_EQ(byteValue(QStringLiteral("00000  4"), 0), 0x30);
}

TEST(CellLogic, TypingHexDigits) {
    QString line = blank();
    ASSERT_TRUE(typeHexDigit(line, 0, u'4'));
    EXPECT_EQ(line.mid(7, 2), "4 ");
    EXPECT_EQ(line.at(59), u'0');
    ASSERT_TRUE(typeHexDigit(line, 1, u'1'));
    EXPECT_EQ(line.mid(7, 2), "41");
    EXPECT_EQ(line.at(59), u'A');
    ASSERT_TRUE(typeHexDigit(line, 31, u'f'));
    EXPECT_EQ(line.at(56), u'F');
    EXPECT_EQ(line.at(74), u'.'); // blank then F: -256 + 15 -> 0x0F
    EXPECT_EQ(line.size(), hexline::kFullLength);

    const QString before = line;
    for (char16_t rejected : {u'Z', u'g', u' ', u'G', u'/', u':', u'@', u'`', u'\u00E4'})
        EXPECT_FALSE(typeHexDigit(line, 2, QChar(rejected))) << int(rejected);
    EXPECT_FALSE(typeHexDigit(line, 32, u'4')); // an ASCII cell takes no hex digit
    EXPECT_EQ(line, before);
}

TEST(CellLogic, TypingAsciiCharacters) {
    QString line = blank();
    typeAsciiChar(line, 35, 'z');
    EXPECT_EQ(line.mid(16, 2), "7A");
    EXPECT_EQ(line.at(62), u'z');
    typeAsciiChar(line, 32, 0x08);
    EXPECT_EQ(line.mid(7, 2), "08");
    EXPECT_EQ(line.at(59), u'.');
    for (auto [code, shown] : {std::pair{0x20, u' '}, {0x7E, u'~'}, {0x7F, u'.'}, {0xFF, u'.'}}) {
        typeAsciiChar(line, 47, static_cast<std::uint8_t>(code));
        EXPECT_EQ(line.at(74), shown) << code;
    }
    EXPECT_EQ(line.mid(55, 2), "FF");
    EXPECT_EQ(line.size(), hexline::kFullLength);
    EXPECT_EQ(line.left(7), "00000  ");
}

TEST(CellLogic, ShortLinesGrowWithoutMovingColumns) {
    // A loaded line of 5 bytes is 64 characters long.
    const std::uint8_t bytes[5] = {1, 2, 3, 4, 5};
    QString line = hexline::formatLine(0, bytes, 5);
    ASSERT_EQ(line.size(), 64);
    ASSERT_TRUE(typeHexDigit(line, 10, u'4'));
    ASSERT_TRUE(typeHexDigit(line, 11, u'1'));
    EXPECT_EQ(line.mid(23, 2), "41");
    EXPECT_EQ(line.size(), 65);
    EXPECT_EQ(line.at(64), u'A');
    // A byte beyond a gap still gets its ASCII character at its own column.
    typeAsciiChar(line, 40, 'x');
    EXPECT_EQ(line.mid(33, 2), "78");
    EXPECT_EQ(line.size(), 68);
    EXPECT_EQ(line.mid(64), "A  x");
}

TEST(CellLogic, BlankDigits) {
    EXPECT_TRUE(hasBlankDigit(blank()));
    const std::uint8_t bytes[16] = {};
    QString full = hexline::formatLine(1, bytes, 16);
    EXPECT_FALSE(hasBlankDigit(full));
    full[56] = u' ';
    EXPECT_TRUE(hasBlankDigit(full));
    EXPECT_TRUE(hasBlankDigit(hexline::formatLine(1, bytes, 15)));
    EXPECT_TRUE(hasBlankDigit(QStringLiteral("00000")));
}

TEST(CellLogic, NavigationSteps) {
    struct Case {
        int cell;
        NavKey key;
        Step::Kind kind;
        int to;
    };
    const Case cases[] = {
        {13, NavKey::Tab, Step::Cell, 32},       {40, NavKey::Tab, Step::Cell, 0},
        {5, NavKey::Left, Step::Cell, 4},        {0, NavKey::Left, Step::LineUp, 31},
        {32, NavKey::Left, Step::LineUp, 47},    {33, NavKey::Left, Step::Cell, 32},
        {30, NavKey::Right, Step::Cell, 31},     {31, NavKey::Right, Step::LineDown, 0},
        {47, NavKey::Right, Step::LineDown, 32}, {9, NavKey::Up, Step::LineUp, 9},
        {44, NavKey::Down, Step::LineDown, 44},  {9, NavKey::Home, Step::Stay, 9},
        {44, NavKey::End, Step::Stay, 44},
    };
    for (const Case &c : cases) {
        const Step step = navigate(c.cell, c.key);
        EXPECT_EQ(step.kind, c.kind) << "cell " << c.cell << " key " << int(c.key);
        EXPECT_EQ(step.cell, c.to) << "cell " << c.cell << " key " << int(c.key);
    }
    EXPECT_EQ(advance(30).cell, 31);
    EXPECT_EQ(advance(31).kind, Step::LineDown);
    EXPECT_EQ(advance(47).cell, 32);
}

} // namespace
