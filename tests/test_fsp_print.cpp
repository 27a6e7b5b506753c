// "&Print": printout.txt and print.sh in the start directory, the script run through a
// stand-in `lp` that records its arguments, and once through a real CUPS queue.
#include "res/control_ids.h"
#include "tests/test_fsp_support.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <pwd.h>
#include <unistd.h>

namespace {

using fsptest::offsetLine;
using testsupport::readFile;

// The printout the window should write for lines first..last-1 of `lines`.
QByteArray expectedPrintout(const QStringList &lines, int first, int last) {
    QByteArray out;
    for (int i = first; i < last; ++i)
        out += lines.at(i).toLatin1() + '\n';
    return out + '\f';
}

class PrintTest : public fsptest::EditorFixture {
protected:
    void SetUp() override {
        EditorFixture::SetUp();
        // A blank and a quote in the directory must not break the command.
        startDir = root.filePath("start dir 'x'");
        ASSERT_TRUE(QDir().mkpath(startDir));
        dialog = testsupport::startedDialog(true, startDir);
        ASSERT_TRUE(dialog);
        dialog->OnEditor();
        platform::uiHooks().printer = [this] {
            ++printerDialogs;
            return printerName;
        };
    }
    QString file(const QString &name) const { return startDir + u'/' + name; }

    QTemporaryDir root;
    QString startDir;
    std::optional<QString> printerName = QStringLiteral("Desk 'Jet");
    int printerDialogs = 0;
};

// A stand-in `lp` first on PATH: each call appends its arguments, one per line, then "--".
class StandInLp {
public:
    explicit StandInLp(const QString &dir) : m_record(dir + "/lp-calls.txt") {
        testsupport::writeFile(dir + "/lp", "#!/bin/sh\nprintf '%s\\n' \"$@\" -- >> \"" +
                                                m_record.toUtf8() + "\"\n");
        QFile::setPermissions(dir + "/lp", QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        m_oldPath = qgetenv("PATH");
        qputenv("PATH", dir.toUtf8() + ':' + m_oldPath);
    }
    ~StandInLp() { qputenv("PATH", m_oldPath); }
    QStringList calls() const {
        return QString::fromUtf8(readFile(m_record)).split(u'\n', Qt::SkipEmptyParts);
    }

private:
    QString m_record;
    QByteArray m_oldPath;
};

TEST_F(PrintTest, RangesPickWholeLines) {
    setOffsetLines(8);
    const QStringList lines = dialog->hexList()->lineTexts();
    struct Case {
        const char *from, *to;
        int first, last;
    } cases[] = {{"20", "60", 2, 6},
                 {"25", "40", 2, 4},
                 {"20", "2F", 2, 2},
                 {"70", "7FD10", 7, 8},
                 {"100", "200", 8, 8}};
    for (const Case &c : cases) {
        rangeAnswer = {c.from, c.to};
        click(ctl::Print);
        EXPECT_EQ(readFile(file("printout.txt")), expectedPrintout(lines, c.first, c.last))
            << c.from << " to " << c.to;
    }
    EXPECT_EQ(printerDialogs, 5);
    EXPECT_EQ(rangeDialogs, 5);
}

TEST_F(PrintTest, CancelledRangePrintsUpToTheRangeLimit) {
    QStringList lines;
    for (int i = 0; i < hexline::kLoaderLineLimit; ++i)
        lines << offsetLine(i);
    setLines(lines);
    click(ctl::Print);
    const QByteArray printout = readFile(file("printout.txt"));
    EXPECT_EQ(printout.count('\n'), 32721);
    EXPECT_EQ(printout, expectedPrintout(lines, 0, 32721));
}

TEST_F(PrintTest, ScriptHoldsOneQuotedCommandThatRunsDetached) {
    const StandInLp lp(root.path());
    setOffsetLines(3);
    rangeAnswer = {"10", "20"};
    click(ctl::Print);
    const QString printout = file("printout.txt");
    EXPECT_EQ(QString::fromUtf8(readFile(file("print.sh"))),
              "lp -d 'Desk '\\''Jet' '" + root.path() + "/start dir '\\''x'\\''/printout.txt'");
    ASSERT_TRUE(testsupport::waitUntil([&] { return !lp.calls().isEmpty(); }, 10000));
    EXPECT_EQ(lp.calls(), QStringList({"-d", "Desk 'Jet", printout, "--"}));
    EXPECT_EQ(readFile(printout), expectedPrintout(dialog->hexList()->lineTexts(), 1, 2));
}

TEST_F(PrintTest, NothingIsWrittenOrRunWithoutLinesOrAPrinter) {
    const StandInLp lp(root.path());
    click(ctl::Print);
    EXPECT_EQ(printerDialogs, 0);
    setOffsetLines(2);
    printerName.reset();
    click(ctl::Print);
    EXPECT_EQ(printerDialogs, 1);
    EXPECT_EQ(rangeDialogs, 0);
    EXPECT_FALSE(QFile::exists(file("print.sh")));
    EXPECT_FALSE(QFile::exists(file("printout.txt")));
    EXPECT_TRUE(messages.messages().empty());
    // A machine without a printer: the dialog says OK without a printer's name.
    printerName = QString();
    click(ctl::Print);
    EXPECT_EQ(printerDialogs, 2);
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.lastText(), "No printer is set up.");
    EXPECT_EQ(rangeDialogs, 0);
    EXPECT_FALSE(QFile::exists(file("print.sh")));
    EXPECT_FALSE(QFile::exists(file("printout.txt")));
    EXPECT_TRUE(lp.calls().isEmpty());
}

TEST_F(PrintTest, ScriptIsNotRunWhenThePrintoutCannotBeWritten) {
    const StandInLp lp(root.path());
    setOffsetLines(2);
    ASSERT_TRUE(QDir().mkpath(file("printout.txt")));
    click(ctl::Print);
    EXPECT_TRUE(QFile::exists(file("print.sh")));
    ASSERT_TRUE(QDir(file("printout.txt")).removeRecursively());
    // A print that works, started after the one that failed: only it reaches lp.
    click(ctl::Print);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !lp.calls().isEmpty(); }, 10000));
    QTest::qWait(300);
    EXPECT_EQ(lp.calls().count("--"), 1);
}

// The start directory may be shared: links planted at the two names are replaced, their
// targets never written, and only the script the program wrote itself runs.
TEST_F(PrintTest, LinksPlantedAtThePrintFilesAreNotWrittenThrough) {
    const StandInLp lp(root.path());
    setOffsetLines(2);
    QTemporaryDir elsewhere;
    const QString victimScript = elsewhere.filePath("victim.sh");
    const QString victimText = elsewhere.filePath("victim.txt");
    testsupport::writeFile(victimScript, "keep script");
    testsupport::writeFile(victimText, "keep text");
    ASSERT_TRUE(QFile::link(victimScript, file("print.sh")));
    ASSERT_TRUE(QFile::link(victimText, file("printout.txt")));
    click(ctl::Print);
    EXPECT_EQ(readFile(victimScript), "keep script");
    EXPECT_EQ(readFile(victimText), "keep text");
    EXPECT_FALSE(QFileInfo(file("print.sh")).isSymLink());
    EXPECT_FALSE(QFileInfo(file("printout.txt")).isSymLink());
    EXPECT_TRUE(readFile(file("print.sh")).startsWith("lp -d "));
    ASSERT_TRUE(testsupport::waitUntil([&] { return !lp.calls().isEmpty(); }, 10000));
    EXPECT_TRUE(messages.messages().empty());
}

// --- through a real CUPS queue ----------------------------------------------------------

// The standard output of a command that succeeded, else nothing.
QString commandOutput(const QString &program, const QStringList &args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(20000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

// Where cups-pdf puts the PDFs of this user's jobs.
QStringList pdfDirectories() {
    const passwd *pw = getpwuid(getuid());
    QStringList dirs{QStringLiteral("/var/spool/cups-pdf/ANONYMOUS")};
    if (pw) {
        dirs << QString::fromLocal8Bit(pw->pw_dir) + QStringLiteral("/PDF")
             << QStringLiteral("/var/spool/cups-pdf/") + QString::fromLocal8Bit(pw->pw_name);
    }
    return dirs;
}

// The text of the first PDF made since `since` that holds `marker`.
QString findPrintedText(const QDateTime &since, const QString &marker, QString *pdfPath) {
    for (const QString &dir : pdfDirectories()) {
        for (const QFileInfo &f : QDir(dir).entryInfoList({"*.pdf"}, QDir::Files)) {
            if (f.lastModified() < since)
                continue;
            const QString text = commandOutput("pdftotext", {"-layout", f.filePath(), "-"});
            if (text.contains(marker)) {
                *pdfPath = f.filePath();
                return text;
            }
        }
    }
    return {};
}

TEST_F(PrintTest, PrintsThroughARealCupsQueue) {
    if (!commandOutput("lpstat", {"-r"}).contains("scheduler is running"))
        GTEST_SKIP() << "no CUPS scheduler answers (lpstat -r); `make printer` starts one";
    if (commandOutput("lpstat", {"-p", "PDF"}).isEmpty())
        GTEST_SKIP() << "the CUPS queue \"PDF\" is missing; `make printer` adds it";
    if (QStandardPaths::findExecutable("pdftotext").isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) is missing";

    // Lines whose ASCII parts no earlier printout can hold.
    const QByteArray tag = QByteArray::number(QRandomGenerator::global()->generate(), 16)
                               .rightJustified(8, '0')
                               .toUpper();
    QStringList lines;
    for (int i = 0; i < 4; ++i) {
        const QByteArray text = "KV" + tag + "-L" + QByteArray::number(i) + "xxxx";
        lines << fsptest::hexLine(i, std::vector<std::uint8_t>(text.begin(), text.begin() + 16));
    }
    setLines(lines);
    printerName = QStringLiteral("PDF");
    rangeAnswer = {"10", "30"};
    const QDateTime since = QDateTime::currentDateTime().addSecs(-2);
    click(ctl::Print);

    QString pdf;
    QString text;
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return !(text = findPrintedText(since, "KV" + tag, &pdf)).isEmpty(); }, 90000))
        << "no PDF of the job appeared in " << pdfDirectories().join(", ").toStdString();
    const QString printed = text.simplified();
    EXPECT_TRUE(printed.contains(lines[1].simplified())) << printed.toStdString();
    EXPECT_TRUE(printed.contains(lines[2].simplified())) << printed.toStdString();
    EXPECT_FALSE(printed.contains("-L0")) << printed.toStdString();
    EXPECT_FALSE(printed.contains("-L3")) << printed.toStdString();
    QFile::remove(pdf);
}

} // namespace
