#include "capture/capture_naming.h"

#include <gtest/gtest.h>

namespace {

struct NameCase {
    const char *before;
    const char *after;
};

TEST(CaptureNaming, AdvancesTheNumberBeforeTheFirstDot) {
    const NameCase cases[] = {
        {"data000000.bin", "data000001.bin"},
        {"data000009.bin", "data000010.bin"},
        {"data999999.bin", "data000000.bin"},
        {"file9", "file0"},
        {"log7", "log8"},
        {"a1.b2.bin", "a2.b2.bin"},
        {"run5x.bin", "run5x.bin"},
        {"log.txt", "log.txt"},
        {"12.bin", "13.bin"},
        {"007", "008"},
        {"", ""},
        {".bin", ".bin"},
        {"x1999.", "x2000."},
        {"cap0123456789.bin", "cap0123456790.bin"},
        {"cap2147483647.bin", "cap2147483648.bin"},
        {"cap99999999999999999999.bin", "cap00000000000000000000.bin"},
        {"n12345678901234567890123456789.bin", "n12345678901234567890123456790.bin"},
    };
    for (const NameCase &c : cases)
        EXPECT_EQ(advanceCaptureFileName(QString::fromLatin1(c.before)),
                  QString::fromLatin1(c.after))
            << c.before;
}

TEST(CaptureNaming, OnlyAsciiDigitsFormTheNumber) {
    // U+0669 ARABIC-INDIC DIGIT NINE is a digit to Unicode, not to the file name counter.
    const QString name = QStringLiteral("log\u0669.bin");
    EXPECT_EQ(advanceCaptureFileName(name), name);
}

struct HeaderCase {
    const char *name;
    const char *header; // empty: no header
};

TEST(CaptureNaming, HeaderRule) {
    const HeaderCase cases[] = {
        {"abc.vmf", "ab"},    {"ab.vmf", ""},
        {"XY0001.VM2", "XY"}, {"data000000.bin", ""},
        {"qwerty.Vm1", "qw"}, {"qwerty.vm3", "qw"},
        {"qwerty.vm4", ""},   {"qwerty.vmfx", ""},
        {"abcdefvmf", ""},    {"", ""},
    };
    for (const HeaderCase &c : cases) {
        const QString name = QString::fromLatin1(c.name);
        EXPECT_EQ(captureHeaderRule(name), *c.header != '\0') << c.name;
        EXPECT_EQ(captureHeader(name), QByteArray(c.header)) << c.name;
    }
}

TEST(CaptureNaming, HeaderKeepsLatin1Characters) {
    EXPECT_EQ(captureHeader(QStringLiteral("\u00e9t\u00e9.vmf")), QByteArray("\xe9t"));
}

TEST(CaptureNaming, PathAlwaysInsertsOneSlash) {
    EXPECT_EQ(capturePath("/home/u", "data000000.bin"), "/home/u/data000000.bin");
    EXPECT_EQ(capturePath("/home/u/", "a.bin"), "/home/u//a.bin");
    EXPECT_EQ(capturePath("", "a.bin"), "/a.bin");
}

} // namespace
