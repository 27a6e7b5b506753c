#include "hexedit/print_logic.h"
#include "hexedit/range_logic.h"
#include "test_logic_lines.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(RangeField, ParseHexOffset) {
    const std::pair<const char *, int> cases[] = {
        {"", 0},
        {"0", 0},
        {"10", 0x10},
        {"7FD10", 0x7FD10},
        {"80000", 0x80000},
        {"FFFFF", 0xFFFFF},
        {"0007F", 0x7F},
        {" ", -16},
        {" 1", -255},
        {"1 ", 0x10 - 16},
        {"g", 103 - 55},
        {"7FFFFFFF", INT_MAX},
        {"80000000", INT_MAX},
        {"FFFFFFFFFFFFFFFFFFFFFFFF", INT_MAX},
        {"                    ", INT_MIN},
    };
    for (const auto &[text, value] : cases)
        EXPECT_EQ(ParseHexOffset(text), value) << '"' << text << '"';
}

TEST(RangeField, RejectionSetHoldsPunctuationAndGToZ) {
    int count = 0;
    for (char16_t u = 0; u < 0x80; ++u) {
        if (inRejectionSet(QChar(u)))
            ++count;
    }
    EXPECT_EQ(count, 52);
    for (char16_t u : {u'!', u'/', u':', u'@', u'[', u'`', u'{', u'~', u'-', u'G', u'Z'})
        EXPECT_TRUE(inRejectionSet(QChar(u))) << char(u);
    for (char16_t u : {u' ', u'0', u'9', u'A', u'F', u'a', u'g', u'z', u'\x7F', u'\u00e9'})
        EXPECT_FALSE(inRejectionSet(QChar(u))) << int(u);
}

TEST(RangeField, Acceptance) {
    const std::pair<const char *, bool> cases[] = {
        {"", true},       {"0", true},      {"7FD10", true},
        {"7FD0F", true},  {"00010", true},  {"7ABCD", true},
        {"7FD11", false}, {"80000", false}, {"FFFFF", false},
        {"G", false},     {"-", false},     {"1-", false},
        {" ", false},     {"1 ", false},    {" 1", false},
        {"a", false},     {"1f", false},    {"FFFFFFFFFFFF", false},
    };
    for (const auto &[text, ok] : cases)
        EXPECT_EQ(acceptRangeField(text), ok) << '"' << text << '"';
    EXPECT_FALSE(acceptRangeField(QStringLiteral("1\u00e9")));
}

TEST(Print, LineRange) {
    struct Case {
        int from, to, lineCount, first, last;
    } const cases[] = {
        {0, 0x7FD10, 100, 0, 100}, {0, 0x7FD10, 32736, 0, 32721}, {0x20, 0x60, 100, 2, 6},
        {0x25, 0x40, 100, 2, 4},   {0x20, 0x2F, 100, 2, 2},       {0x200, 0x300, 10, 32, 10},
        {0, 0, 5, 0, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(printLineRange(c.from, c.to, c.lineCount), std::make_pair(c.first, c.last))
            << std::hex << c.from << "-" << c.to << " of " << std::dec << c.lineCount;
}

TEST(Print, PrintoutContent) {
    const QStringList lines{logictest::countingLine(0, 0x30), logictest::countingLine(1, 0x40),
                            logictest::line(2, {0x61, 0x62, 0x63, 0x64, 0x65})};
    EXPECT_EQ(printoutContent(lines, 1, 3),
              lines.at(1).toLatin1() + '\n' + lines.at(2).toLatin1() + "\n\x0C");
    EXPECT_EQ(lines.at(2).size(), 64);
    EXPECT_EQ(printoutContent(lines, 2, 2), QByteArray("\x0C"));
    EXPECT_EQ(printoutContent(lines, 32, 3), QByteArray("\x0C"));
    EXPECT_EQ(printoutContent(lines, 0, 99).count('\n'), 3);
}

TEST(Print, ShellQuote) {
    EXPECT_EQ(shellQuote("plain"), "'plain'");
    EXPECT_EQ(shellQuote(""), "''");
    EXPECT_EQ(shellQuote("it's"), "'it'\\''s'");
    EXPECT_EQ(printCommand("HP", "/tmp/printout.txt"), "lp -d 'HP' '/tmp/printout.txt'");
}

// A stand-in lp that writes each of its arguments, NUL-terminated, to $LP_RECORD.
void writeStandInLp(const QString &dir) {
    QFile lp(dir + "/lp");
    ASSERT_TRUE(lp.open(QIODevice::WriteOnly));
    lp.write("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"$LP_RECORD\"\n");
    lp.close();
    lp.setPermissions(lp.permissions() | QFileDevice::ExeOwner);
}

TEST(Print, CommandReachesLpWithItsArgumentsIntact) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString bin = tmp.filePath("bin");
    const QString printDir = tmp.filePath("my print's $HOME `dir` \"x\"");
    ASSERT_TRUE(QDir().mkpath(bin));
    ASSERT_TRUE(QDir().mkpath(printDir));
    writeStandInLp(bin);

    const QString printer = "Office 'A' $PATH;rm";
    const QString printout = printDir + "/printout.txt";
    const QString script = printDir + "/print.sh";
    QFile sh(script);
    ASSERT_TRUE(sh.open(QIODevice::WriteOnly));
    sh.write(printCommand(printer, printout).toUtf8());
    sh.close();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PATH", bin + ":" + env.value("PATH"));
    env.insert("LP_RECORD", tmp.filePath("record"));
    QProcess run;
    run.setProcessEnvironment(env);
    run.start("/bin/sh", {script});
    ASSERT_TRUE(run.waitForFinished(10000));
    EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();

    QFile record(tmp.filePath("record"));
    ASSERT_TRUE(record.open(QIODevice::ReadOnly));
    const QByteArray expected =
        "-d" + QByteArray(1, '\0') + printer.toUtf8() + '\0' + printout.toUtf8() + '\0';
    EXPECT_EQ(record.readAll(), expected);
}

} // namespace
