#include "transmit/reply_text.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

std::vector<std::uint8_t> counting(int count) {
    std::vector<std::uint8_t> v;
    for (int i = 0; i < count; ++i)
        v.push_back(std::uint8_t(i));
    return v;
}

TEST(ReplyText, SeventeenBytes) {
    const std::vector<std::uint8_t> bytes = counting(17);
    ReplyText reply;
    EXPECT_EQ(reply.append(bytes.data(), 17), QString("00 01 02 03 04 05 06 07 "
                                                      "  "
                                                      "08 09 0A 0B 0C 0D 0E 0F "
                                                      "  "
                                                      "\r\n"
                                                      "10 "));
}

TEST(ReplyText, UpperCaseDigitsAndLineLayout) {
    const std::uint8_t bytes[] = {0xAB, 0xff, 0x7e};
    ReplyText reply;
    EXPECT_EQ(reply.append(bytes, 3), "AB FF 7E ");

    // 40 bytes: two full display lines of 52 characters, then 8 bytes and their group blanks.
    const std::vector<std::uint8_t> many = counting(40);
    ReplyText fresh;
    const QString text = fresh.append(many.data(), 40);
    const QStringList rows = text.split("\r\n");
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows.at(0).size(), 52);
    EXPECT_EQ(rows.at(1), "10 11 12 13 14 15 16 17   18 19 1A 1B 1C 1D 1E 1F   ");
    EXPECT_EQ(rows.at(2), "20 21 22 23 24 25 26 27   ");
}

TEST(ReplyText, ArbitrarySplitsGiveTheSameText) {
    const std::vector<std::uint8_t> bytes = counting(200);
    ReplyText whole;
    const QString expected = whole.append(bytes.data(), int(bytes.size()));
    for (int chunk : {1, 2, 5, 7, 8, 15, 16, 17, 33, 199}) {
        ReplyText parts;
        QString text;
        for (int at = 0; at < int(bytes.size()); at += chunk)
            text += parts.append(bytes.data() + at, std::min(chunk, int(bytes.size()) - at));
        EXPECT_EQ(text, expected) << "chunks of " << chunk;
    }
    EXPECT_TRUE(whole.append(bytes.data(), 0).isEmpty());
}

TEST(ReplyText, ClearStartsANewReply) {
    const std::vector<std::uint8_t> bytes = counting(10);
    ReplyText reply;
    const QString first = reply.append(bytes.data(), 10);
    reply.clear();
    EXPECT_EQ(reply.append(bytes.data(), 10), first);
}

} // namespace
