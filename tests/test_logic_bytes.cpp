#include "hexedit/line_bytes.h"
#include "test_logic_lines.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using logictest::blankCell;
using logictest::countingLine;
using logictest::line;

std::vector<std::uint8_t> collect(const QStringList &lines, int start, int end) {
    const int capacity = collectCapacity(int(lines.size()), start, end);
    // One guard byte past the capacity catches a write beyond it (also under the sanitizer).
    std::vector<std::uint8_t> buffer(std::max(capacity, 0) + 1, 0xEE);
    const int n = CollectBytes(lines, start, end, buffer.data());
    EXPECT_LE(n, std::max(capacity, 0));
    EXPECT_EQ(buffer.back(), 0xEE);
    buffer.resize(n);
    return buffer;
}

std::vector<std::uint8_t> counting(int first, int count) {
    std::vector<std::uint8_t> v;
    for (int i = 0; i < count; ++i)
        v.push_back(std::uint8_t(first + i));
    return v;
}

TEST(CollectBytes, ReadsTheRangeAcrossLines) {
    const QStringList lines{countingLine(0, 0x41), line(1, {0x51, 0x52})};
    EXPECT_EQ(collect(lines, 14, 100), (std::vector<std::uint8_t>{0x4F, 0x50, 0x51, 0x52}));
    EXPECT_EQ(collect(lines, 0, 0x7FD10), counting(0x41, 18));
    EXPECT_EQ(collect(lines, 3, 5), (std::vector<std::uint8_t>{0x44, 0x45}));
    EXPECT_EQ(collect(lines, 16, 17), (std::vector<std::uint8_t>{0x51}));
    EXPECT_TRUE(collect(lines, 5, 5).empty());
}

TEST(CollectBytes, StopsAtTheFirstBlankCell) {
    const QStringList blankFirst{hexline::blankLine(0), countingLine(1, 0)};
    EXPECT_TRUE(collect(blankFirst, 0, 0x7FD10).empty());

    const QStringList gap{countingLine(0, 0), blankCell(countingLine(1, 0x10), 4),
                          countingLine(2, 0x20)};
    EXPECT_EQ(collect(gap, 0, 0x7FD10), counting(0, 20));
    // A range that begins after the blank cell on its line holds nothing; reading starts on
    // the line of the start offset, so a blank cell on an earlier line does not count.
    EXPECT_TRUE(collect(gap, 21, 0x7FD10).empty());
    EXPECT_EQ(collect(gap, 32, 48), counting(0x20, 16));
}

TEST(CollectBytes, HalfBlankCellAndLineEndCountAsBlank) {
    QString half = countingLine(0, 0);
    half[hexline::highDigitColumn(2) + 1] = u' ';
    EXPECT_EQ(collect({half}, 0, 100), counting(0, 2));

    // A line cut short inside its hex part: the cells past its end are blank.
    const QString cut = countingLine(0, 0).left(hexline::highDigitColumn(3) + 1);
    EXPECT_EQ(collect({cut, countingLine(1, 0x10)}, 0, 100), counting(0, 3));
}

TEST(CollectBytes, ConvertsDigitsWithoutValidating) {
    QString text = line(0, {0xAB, 0x00, 0x00});
    // Lower-case letters and other characters keep the plain code arithmetic, kept to 8 bits.
    text[hexline::highDigitColumn(1)] = u'a';     // 97 - 55 = 42
    text[hexline::highDigitColumn(1) + 1] = u'1'; // 1
    text[hexline::highDigitColumn(2)] = u'!';     // 33 - 48 = -15
    text[hexline::highDigitColumn(2) + 1] = u'0';
    EXPECT_EQ(collect({text}, 0, 16),
              (std::vector<std::uint8_t>{0xAB, std::uint8_t((16 * 42 + 1) & 0xFF),
                                         std::uint8_t((16 * -15) & 0xFF)}));
}

TEST(CollectBytes, RangesOutsideTheLines) {
    const QStringList lines{countingLine(0, 0), countingLine(1, 0x10)};
    EXPECT_TRUE(collect(lines, 0x100, 0x200).empty());
    EXPECT_TRUE(collect({}, 0, 0x7FD10).empty());
    EXPECT_EQ(collect(lines, -5, 3), counting(0, 3));
}

TEST(CollectBytes, Capacity) {
    struct Case {
        int lineCount, start, end, capacity;
    } const cases[] = {
        {2, 14, 100, 18},
        {3, 0x10, 0x20, 16},
        {0, 0, 0x7FD10, 0},
        {2, 0x100, 0x200, -224},
        {32736, 0, 0x7FD10, 0x7FD10},
        {32736, 0x7FD10, 0x7FD10, 0},
        {100, 0x7FD10, 0x7FD10, 1600 - 0x7FD10},
    };
    for (const Case &c : cases)
        EXPECT_EQ(collectCapacity(c.lineCount, c.start, c.end), c.capacity)
            << c.lineCount << " " << c.start << " " << c.end;
}

} // namespace
