#include "hexedit/find_logic.h"
#include "test_logic_lines.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using logictest::blankCell;
using logictest::line;
using Hit = std::pair<int, int>; // line, cell

// Runs the search until it falls off the end and returns every hit in order.
std::vector<Hit> allHits(const QStringList &lines, const QString &text, bool ascii,
                         bool caseSensitive = false) {
    const QString prepared = prepareFindText(text, ascii, caseSensitive);
    FindState state;
    std::vector<Hit> hits;
    for (int guard = 0; guard < 100; ++guard) {
        const FindResult r = findNext(lines, prepared, ascii, caseSensitive, state);
        if (!r.found) {
            EXPECT_EQ(state.findLine, -1);
            EXPECT_EQ(state.findPos, 0);
            return hits;
        }
        hits.push_back({r.line, r.cell});
    }
    ADD_FAILURE() << "the search never ran off the end";
    return hits;
}

const QStringList kTwoLines{line(0, {0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A,
                                     0x4B, 0x4C, 0x4D, 0x4E, 0x4F, 0x41}),
                            line(1, {0x42, 0x00})};

TEST(Find, HexHitsOneByteApartAndAcrossLines) {
    const QString prepared = prepareFindText("4142", false, false);
    FindState state;
    FindResult r = findNext(kTwoLines, prepared, false, false, state);
    ASSERT_TRUE(r.found);
    EXPECT_EQ(Hit(r.line, r.cell), Hit(0, 0));
    EXPECT_EQ(state.findLine, -1);
    EXPECT_EQ(state.findPos, 2);

    r = findNext(kTwoLines, prepared, false, false, state);
    ASSERT_TRUE(r.found);
    EXPECT_EQ(Hit(r.line, r.cell), Hit(0, 30)); // column 55, the pair runs into line 1
    EXPECT_EQ(state.findLine, 0);
    EXPECT_EQ(state.findPos, 0);

    EXPECT_FALSE(findNext(kTwoLines, prepared, false, false, state).found);
    EXPECT_EQ(state.findLine, -1);
    EXPECT_EQ(state.findPos, 0);
}

TEST(Find, PrepareFindText) {
    struct Case {
        const char *text;
        bool ascii, caseSensitive;
        const char *prepared;
    } const cases[] = {
        {"41 42", false, false, "4142"},
        {"4142", false, false, "4142"},
        {"41 4 2", false, false, "4142"},
        {"414", false, false, "41"},
        {"4", false, false, ""},
        {"   ", false, false, ""},
        {"ab cd", false, true, "ABCD"},
        {"a b", true, false, "A B"},
        {"a b", true, true, "a b"},
        {"", true, false, ""},
        {"0102030405060708090A0B0C0D0E0F1011121314", false, false,
         "0102030405060708090A0B0C0D0E0F10"},
        {"abcdefghijklmnopqrstuvwxyz0123456789", true, true, "abcdefghijklmnopqrstuvwxyz012345"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(prepareFindText(c.text, c.ascii, c.caseSensitive), QString(c.prepared)) << c.text;
}

TEST(Find, HexOnlyAtByteStarts) {
    EXPECT_TRUE(allHits({line(0, {0x01, 0x41})}, "14", false).empty());
    EXPECT_EQ(allHits({line(0, {0x01, 0x41})}, "0141", false), (std::vector<Hit>{{0, 0}}));
    // "11" straddles 01 10 at digit 1, and stands as a byte at 2.
    EXPECT_EQ(allHits({line(0, {0x01, 0x11})}, "11", false), (std::vector<Hit>{{0, 2}}));
    EXPECT_EQ(allHits({line(0, {0x01, 0x41, 0x41})}, "414", false),
              (std::vector<Hit>{{0, 2}, {0, 4}}));
}

TEST(Find, SearchTextLongerThan16BytesUsesTheFirst16) {
    std::vector<std::uint8_t> bytes;
    for (int i = 1; i <= 16; ++i)
        bytes.push_back(std::uint8_t(i));
    const QStringList lines{hexline::formatLine(0, bytes.data(), 16), line(1, {0x77})};
    // Bytes 17..20 of the search text (11 12 13 14) are not in the lines at all.
    EXPECT_EQ(allHits(lines, "0102030405060708090A0B0C0D0E0F1011121314", false),
              (std::vector<Hit>{{0, 0}}));
}

TEST(Find, AsciiOverlappingHits) {
    EXPECT_EQ(allHits({line(0, {0x41, 0x41, 0x41, 0x41})}, "AA", true),
              (std::vector<Hit>{{0, 32}, {0, 33}, {0, 34}}));
}

TEST(Find, AsciiCase) {
    const QStringList lines{line(0, {'A', 'B', 'C', '.', 'a', 'b', 'c', '.', 'a', 'B', 'c'})};
    EXPECT_EQ(allHits(lines, "abc", true, false), (std::vector<Hit>{{0, 32}, {0, 36}, {0, 40}}));
    EXPECT_EQ(allHits(lines, "abc", true, true), (std::vector<Hit>{{0, 36}}));
    EXPECT_EQ(allHits(lines, "ABC", true, true), (std::vector<Hit>{{0, 32}}));
}

TEST(Find, AsciiKeepsBlanks) {
    const QStringList lines{line(0, {'a', 'b', '.', 'a', ' ', 'b'})};
    EXPECT_EQ(allHits(lines, "a b", true), (std::vector<Hit>{{0, 35}}));
}

TEST(Find, HitsAcrossLinesAndWindows) {
    QStringList lines;
    for (int i = 0; i < 6; ++i)
        lines << logictest::countingLine(i, std::uint8_t(0x10 * i));
    // 0F 10 spans lines 0 and 1, 3F 40 spans lines 3 and 4; 55 56 sits inside line 5.
    EXPECT_EQ(allHits(lines, "0F10", false), (std::vector<Hit>{{0, 30}}));
    EXPECT_EQ(allHits(lines, "3F40", false), (std::vector<Hit>{{3, 30}}));
    EXPECT_EQ(allHits(lines, "5556", false), (std::vector<Hit>{{5, 10}}));
    EXPECT_TRUE(allHits(lines, "5F60", false).empty());
    EXPECT_TRUE(allHits({}, "41", false).empty());
}

TEST(Find, ShortLineBeforeTheHitInTheSameWindow) {
    // Line 0 holds 5 bytes; with full widths assumed, AA BB would land on line 0 at cell 14.
    const QStringList lines{line(0, {1, 2, 3, 4, 5}),
                            line(1, {0x10, 0x11, 0xAA, 0xBB, 0x12, 0xAA, 0xBB}),
                            line(2, {0xAA, 0xBB})};
    EXPECT_EQ(allHits(lines, "AABB", false), (std::vector<Hit>{{1, 4}, {1, 10}, {2, 0}}));
    const QStringList text{line(0, {'x', 'y'}), line(1, {'q', 'x', 'y', 'z'})};
    EXPECT_EQ(allHits(text, "XY", true), (std::vector<Hit>{{0, 32}, {1, 33}}));
}

TEST(Find, BlankCellBeforeTheHitInItsLine) {
    const QStringList lines{blankCell(line(0, {0x01, 0x02, 0x42, 0x43, 0x42}), 1)};
    EXPECT_EQ(allHits(lines, "42", false), (std::vector<Hit>{{0, 4}, {0, 8}}));
}

TEST(Find, ShortBlankAndEditedLinesFurtherDownTheList) {
    // Each line is reduced once per search and reused by the next two windows: hits past the
    // first windows must still land on the line and cell where they stand.
    const QStringList lines{line(0, {0xAA}),
                            hexline::blankLine(1),
                            line(2, {0xBB, 0xAA}),
                            line(3, {0xBB}),
                            blankCell(logictest::countingLine(4, 0xA0), 10),
                            line(5, {0xAA, 0xBB})};
    // The first hit joins line 0 to line 2 over the blank line, as the window holds them.
    EXPECT_EQ(allHits(lines, "AABB", false), (std::vector<Hit>{{0, 0}, {2, 2}, {5, 0}}));
    EXPECT_EQ(allHits(lines, "ABAC", false), (std::vector<Hit>{{4, 22}}));
}

TEST(Find, EmptySearchTextFindsNothing) {
    FindState state{0, 4};
    EXPECT_FALSE(findNext(kTwoLines, QString(), false, false, state).found);
    EXPECT_EQ(state.findLine, -1);
    EXPECT_EQ(state.findPos, 0);
}

TEST(Find, AcceptableHexFindText) {
    const std::pair<const char *, bool> cases[] = {
        {"", true},        {"0123456789", true}, {"abcdef ABCDEF", true},
        {"41 4 2", true},  {"x", false},         {"4g", false},
        {"41\t42", false}, {"-1", false},        {"0x41", false},
    };
    for (const auto &[text, ok] : cases)
        EXPECT_EQ(acceptableHexFindText(text), ok) << text;
    EXPECT_FALSE(acceptableHexFindText(QStringLiteral("4\u00e9")));
}

} // namespace
