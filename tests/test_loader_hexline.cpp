// The hex line as a pure function: known example lines, the column layout of short
// lines, the ASCII part, and labels of more than four digits.
#include "loader/hexline.h"
#include "tests/test_loader_fixture.h"

#include <gtest/gtest.h>

#include <QByteArray>

namespace {

const std::uint8_t *bytesOf(const QByteArray &a) {
    return reinterpret_cast<const std::uint8_t *>(a.constData());
}

TEST(HexLine, SpecExamples) {
    QByteArray first;
    for (int i = 0; i < 16; ++i)
        first.append(char(i));
    EXPECT_EQ(hexline::formatLine(0, bytesOf(first), 16),
              "00000  00 01 02 03  04 05 06 07  08 09 0A 0B  0C 0D 0E 0F  ................");

    const QByteArray hello("Hello, World!\r\n\0", 16);
    EXPECT_EQ(hexline::formatLine(1, bytesOf(hello), 16),
              "00010  48 65 6C 6C  6F 2C 20 57  6F 72 6C 64  21 0D 0A 00  Hello, World!...");

    EXPECT_EQ(hexline::formatLine(2, bytesOf("abc"), 3),
              "00020  61 62 63" + QString(44, u' ') + "abc");
}

TEST(HexLine, ShortLinesKeepTheColumns) {
    QByteArray bytes;
    for (int i = 0; i < 16; ++i)
        bytes.append(char(0xA0 + i));
    const QString full = hexline::formatLine(0, bytesOf(bytes), 16);
    ASSERT_EQ(full.size(), hexline::kFullLength);
    for (int k = 1; k <= 16; ++k) {
        const QString line = hexline::formatLine(0, bytesOf(bytes), k);
        ASSERT_EQ(line.size(), 59 + k) << k;
        // The cells shown are those of the full line; the places of the missing ones are blanks.
        const int lastHexColumn = hexline::highDigitColumn(k - 1) + 1;
        EXPECT_EQ(line.left(lastHexColumn + 1), full.left(lastHexColumn + 1)) << k;
        EXPECT_EQ(line.mid(lastHexColumn + 1, 59 - lastHexColumn - 1),
                  QString(59 - lastHexColumn - 1, u' '))
            << k;
        EXPECT_EQ(line.mid(59), full.mid(59, k)) << k;
    }
    EXPECT_EQ(hexline::highDigitColumn(0), 7);
    EXPECT_EQ(hexline::highDigitColumn(4), 20);
    EXPECT_EQ(hexline::highDigitColumn(15), 55);
}

TEST(HexLine, AsciiPartShowsOnlyPrintableBytes) {
    const QByteArray bytes("\x00\x1F\x20\x41\x7E\x7F\x80\xFF", 8);
    const QString line = hexline::formatLine(0, bytesOf(bytes), 8);
    EXPECT_EQ(line.mid(59), QString(".. A~..."));
    EXPECT_EQ(line.mid(7, 24), QString("00 1F 20 41  7E 7F 80 FF"));
}

TEST(HexLine, Labels) {
    EXPECT_EQ(hexline::label(0), "00000");
    EXPECT_EQ(hexline::label(0x7FDF), "7FDF0");
    EXPECT_EQ(hexline::label(0xFFFF), "FFFF0");
    EXPECT_EQ(hexline::label(0x10002), "100020");

    const QByteArray bytes(16, 'x');
    const QString wide = hexline::formatLine(0x10002, bytesOf(bytes), 16);
    EXPECT_EQ(wide.size(), hexline::kFullLength + 1);
    EXPECT_EQ(wide, "1" + hexline::formatLine(0x0002, bytesOf(bytes), 16));

    QString line = hexline::formatLine(0, bytesOf(bytes), 16);
    hexline::setLabelDigits(reinterpret_cast<char16_t *>(line.data()), 0x7FDF);
    EXPECT_EQ(line, hexline::formatLine(0x7FDF, bytesOf(bytes), 16));
}

TEST(HexLine, Limits) {
    EXPECT_EQ(hexline::kLoaderByteLimit, 523776);
    EXPECT_EQ(hexline::kLoaderLineLimit, 32736);
    EXPECT_EQ(hexline::label(hexline::kLoaderLineLimit - 1), "7FDF0");
}

} // namespace
