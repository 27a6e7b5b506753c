// The real kalvosan-cli, run as a user runs it, with ptys as the devices and settings of the
// test's own.
#include "tests/test_cli_support.h"
#include "tests/test_serial_fixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>

namespace {

using namespace testsupport;

// The 20 bytes of the hex tests and their lines in the editor pane's format.
const QByteArray kTwentyBytes("Hello, world!\x00\x01\xff\x7f"
                              "ABC",
                              20);
const QByteArray kFirstLine =
    "00000  48 65 6C 6C  6F 2C 20 77  6F 72 6C 64  21 00 01 FF  Hello, world!...\n";
const QByteArray kShortLine = QByteArray("00010  7F 41 42 43").leftJustified(59) + ".ABC\n";

using CliProgram = CliProcessTest;

TEST_F(CliProgram, CapturesNumberedFilesUntilTheByteCountOrASignal) {
    const QString first = path("data000000.bin");
    start({"capture", m_pty.slavePath(), "--dir", m_dir.path(), "--bytes", "4096"});
    ASSERT_TRUE(syncCapture(m_pty, first));
    const qint64 synced = QFileInfo(first).size();
    // More than the count: the capture ends at its byte.
    const QByteArray burst = randomPayload(4096 - synced + 100);
    m_pty.write(burst);
    ASSERT_EQ(finish(), 0) << m_err.constData();
    EXPECT_EQ(readFile(first), QByteArray(synced, kSync) + burst.left(4096 - synced));
    EXPECT_EQ(m_out, (first + "\t4096\n").toLocal8Bit());
    EXPECT_EQ(m_err, "") << "no progress line when standard error is no terminal";

    // The next capture takes the next name; SIGTERM ends it with its file complete.
    const QString second = path("data000001.bin");
    start({"capture", m_pty.slavePath(), "--dir", m_dir.path()});
    ASSERT_TRUE(syncCapture(m_pty, second));
    m_pty.write("DATA");
    ASSERT_TRUE(waitUntil([&] { return readFile(second).endsWith("DATA"); }));
    m_process.terminate();
    ASSERT_EQ(finish(), 0) << m_err.constData();
    EXPECT_EQ(afterSync(readFile(second)), "DATA");
    EXPECT_EQ(m_out, (second + '\t' + QString::number(QFileInfo(second).size()) + '\n'));

    // And the port was released: a third capture opens it, and ends after its time.
    ASSERT_EQ(run({"capture", m_pty.slavePath(), "--dir", m_dir.path(), "--seconds", "0.3"}), 0)
        << m_err.constData();
    EXPECT_EQ(m_out, (path("data000002.bin") + "\t0\n").toLocal8Bit());
}

TEST_F(CliProgram, SendsAFileWholeOrByteByByte) {
    const QByteArray payload = randomPayload(96 * 1024);
    writeFile(path("send.bin"), payload);
    start({"send", m_pty.slavePath(), path("send.bin"), "--delay", "-1", "--baud", "115200"});
    EXPECT_EQ(m_pty.read(int(payload.size()), 20000), payload);
    EXPECT_EQ(finish(), 0) << m_err.constData();
    EXPECT_EQ(m_out + m_err, "");

    const QByteArray small = randomPayload(300, 7);
    writeFile(path("small.bin"), small);
    start({"send", m_pty.slavePath(), path("small.bin"), "--delay", "0.2"});
    EXPECT_EQ(m_pty.read(int(small.size()), 20000), small);
    EXPECT_EQ(finish(), 0) << m_err.constData();
}

TEST_F(CliProgram, AnInterruptedSendFailsAndTheMonitorPrintsTheReplyAsHexLines) {
    writeFile(path("slow.bin"), QByteArray(1000, 's'));
    start({"send", m_pty.slavePath(), path("slow.bin"), "--delay", "50"});
    QByteArray received = m_pty.read(2);
    ASSERT_GE(received.size(), 2);
    m_process.terminate();
    EXPECT_EQ(finish(), 1);
    // The program has ended: all it sent is in the pty.
    received += m_pty.read(1000, 200);
    EXPECT_TRUE(m_err.contains("interrupted after " + QByteArray::number(received.size()) +
                               " of 1000 bytes"))
        << m_err.constData() << " with " << received.size() << " received";

    // A device that reads nothing holds the send up, as flow control would; what the driver
    // queues for it when the send is interrupted is dropped, not sent once it reads again.
    writeFile(path("big.bin"), QByteArray(64 * 1024, 'q'));
    start({"send", m_pty.slavePath(), path("big.bin"), "--delay", "-1", "--baud", "115200"});
    QThread::msleep(500);
    m_process.terminate();
    EXPECT_EQ(finish(), 1);
    // The pty keeps 4 KB in its line discipline, beyond the driver's reach; 20 KB were queued.
    EXPECT_LE(m_pty.read(64 * 1024, 300).size(), 4096);

    writeFile(path("ping.bin"), "PING");
    start({"send", m_pty.slavePath(), path("ping.bin"), "--monitor", "1"});
    ASSERT_EQ(m_pty.read(4), "PING");
    m_pty.write(kTwentyBytes);
    EXPECT_EQ(finish(), 0) << m_err.constData();
    // Labelled as monitor labels its lines: eight digits.
    EXPECT_EQ(m_out, "000" + kFirstLine + "000" + kShortLine);
}

TEST_F(CliProgram, PrintsAFileAsTheEditorPaneAndFollowsItAsItGrows) {
    writeFile(path("twenty.bin"), kTwentyBytes);
    ASSERT_EQ(run({"hex", path("twenty.bin")}), 0) << m_err.constData();
    EXPECT_EQ(m_out, kFirstLine + kShortLine);

    start({"hex", path("twenty.bin"), "--follow"});
    // Only complete lines while it follows.
    ASSERT_TRUE(waitUntil([&] { return m_process.bytesAvailable() >= kFirstLine.size(); }));
    QFile file(path("twenty.bin"));
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("0123456789abcd");
    file.close();
    const QByteArray second =
        "00010  7F 41 42 43  30 31 32 33  34 35 36 37  38 39 61 62  .ABC0123456789ab\n";
    const qint64 twoLines = kFirstLine.size() + second.size();
    ASSERT_TRUE(waitUntil([&] { return m_process.bytesAvailable() >= twoLines; }));
    // The last partial line comes at the end.
    m_process.terminate();
    ASSERT_EQ(finish(), 0) << m_err.constData();
    // A listing that follows a file has no known end: its offsets take eight digits.
    EXPECT_EQ(m_out, "000" + kFirstLine + "000" + second + "000" +
                         QByteArray("00020  63 64").leftJustified(59) + "cd\n");

    // One width for the whole listing: past 1 MiB the columns still line up.
    writeFile(path("big.bin"), QByteArray((1 << 20) + 1, 'b'));
    ASSERT_EQ(run({"hex", path("big.bin")}), 0) << m_err.constData();
    EXPECT_TRUE(m_out.startsWith("000000  62 62")) << m_out.left(80).constData();
    EXPECT_TRUE(m_out.endsWith("\n" + QByteArray("100000  62").leftJustified(60) + "b\n"))
        << m_out.right(80).constData();
}

// Two captures at once, as a user starts them from two terminals: neither writes into the file
// the other holds, whether it numbers its own file or is told the name. One ends by a hang-up (a
// closed terminal, a dropped ssh session) with its file complete, its name moved on, its port
// and lock file released. A one-off --name is not where the numbering goes on from.
TEST_F(CliProgram, TwoCapturesNeverShareAFileAndAHangUpEndsOneCleanly) {
    const QString first = path("data000000.bin");
    start({"capture", m_pty.slavePath(), "--dir", m_dir.path()});
    ASSERT_TRUE(syncCapture(m_pty, first));

    Pty other;
    QProcess second;
    second.setProcessEnvironment(m_process.processEnvironment());
    second.start(m_process.program(), {"capture", other.slavePath(), "--dir", m_dir.path()});
    ASSERT_TRUE(second.waitForStarted());
    const QString next = path("data000001.bin");
    ASSERT_TRUE(syncCapture(other, next)) << "the second capture took another name";
    other.write("SECOND");
    ASSERT_TRUE(waitUntil([&] { return readFile(next).endsWith("SECOND"); }));
    EXPECT_TRUE(serialtest::ttyExclusive(other.slavePath()));
    ::kill(pid_t(second.processId()), SIGHUP);
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().constData();
    EXPECT_EQ(second.readAllStandardOutput(),
              (next + '\t' + QString::number(QFileInfo(next).size()) + '\n').toLocal8Bit());
    EXPECT_FALSE(serialtest::ttyExclusive(other.slavePath()));
    EXPECT_TRUE(QDir(qEnvironmentVariable("KALVOSAN_LOCK_DIR"))
                    .entryList({"LCK..pts_" + QFileInfo(other.slavePath()).fileName()},
                               QDir::Files | QDir::System)
                    .isEmpty());

    // Told the name of the file the first capture holds: refused, the file untouched.
    Pty third;
    const QByteArray held = readFile(first);
    second.start(m_process.program(), {"capture", third.slavePath(), "--dir", m_dir.path(),
                                       "--name", "data000000.bin", "--seconds", "0.2"});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_TRUE(second.readAllStandardError().contains(
        "Could not open file " + first.toLocal8Bit() + ": held by another capture"));
    EXPECT_EQ(readFile(first), held);

    // The first capture, meanwhile, has everything of its own device.
    m_pty.write("FIRST");
    ASSERT_TRUE(waitUntil([&] { return readFile(first).endsWith("FIRST"); }));
    m_process.terminate();
    ASSERT_EQ(finish(), 0) << m_err.constData();
    EXPECT_EQ(afterSync(readFile(first)), "FIRST");

    // A one-off name is used once; the numbering goes on where it was, and never empties it.
    writeFile(path("test.bin"), "an earlier capture");
    ASSERT_EQ(run({"capture", third.slavePath(), "--dir", m_dir.path(), "--name", "test.bin",
                   "--seconds", "0.2"}),
              0);
    EXPECT_EQ(readFile(path("test.bin")), "");
    writeFile(path("test.bin"), "kept");
    ASSERT_EQ(run({"capture", third.slavePath(), "--dir", m_dir.path(), "--seconds", "0.2"}), 0);
    EXPECT_EQ(m_out, (path("data000002.bin") + "\t0\n").toLocal8Bit());
    EXPECT_EQ(readFile(path("test.bin")), "kept");
}

// What a script needs: a report path that cannot be written is found before anything is sent
// (exit 2, not the 1 of a failed send that a retry would send twice), a send of whole chunks
// reports what is known of it, a refusal says why, a setting the port did not take is named.
TEST_F(CliProgram, ScriptsLearnWhyAndNothingIsSentForAReportThatCannotBeWritten) {
    writeFile(path("data.bin"), QByteArray(3000, 'd'));
    for (const char *delay : {"-1", "0"}) {
        ASSERT_EQ(run({"send", m_pty.slavePath(), path("data.bin"), "--delay", delay, "--report",
                       path("missing/report.json")}),
                  2);
        EXPECT_TRUE(m_err.contains("Could not open file " +
                                   path("missing/report.json").toLocal8Bit() +
                                   ": No such file or directory"))
            << m_err.constData();
        EXPECT_EQ(m_pty.read(1, 300), "") << "nothing was sent";
    }
    start({"send", m_pty.slavePath(), path("data.bin"), "--delay", "-1", "--report",
           path("report.json")});
    EXPECT_EQ(m_pty.read(3000).size(), 3000);
    ASSERT_EQ(finish(), 0) << m_err.constData();
    const QJsonObject report = QJsonDocument::fromJson(readFile(path("report.json"))).object();
    EXPECT_EQ(report.value("sent").toInt(), 3000);
    EXPECT_GT(report.value("duration_ms").toDouble(), 0);
    EXPECT_GT(report.value("bytes_per_second").toDouble(), 0);

    // Held by a lock file: refused with the holder named, and the device not even opened.
    serialtest::OpenWatch opens(m_pty.slavePath());
    const QString lock = QDir(qEnvironmentVariable("KALVOSAN_LOCK_DIR"))
                             .filePath("LCK..pts_" + QFileInfo(m_pty.slavePath()).fileName());
    writeFile(lock, QByteArray::number(::getpid()).rightJustified(10, ' ') + " minicom tester\n");
    // A capture that cannot start leaves the file at its name as it was.
    writeFile(path("earlier.bin"), "an earlier capture");
    ASSERT_EQ(run({"capture", m_pty.slavePath(), "--dir", m_dir.path(), "--name", "earlier.bin"}),
              1);
    EXPECT_EQ(readFile(path("earlier.bin")), "an earlier capture");
    ASSERT_TRUE(QFile::remove(lock));
    EXPECT_TRUE(m_err.contains("Could not open port " + m_pty.slavePath().toLocal8Bit() +
                               ": held by another program (lock file " + lock.toLocal8Bit() +
                               ", process " + QByteArray::number(::getpid()) + ")"))
        << m_err.constData();
    EXPECT_EQ(opens.count(), 0);
    // Nor does one whose times file cannot be made; a link at the name is not followed.
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("earlier.bin.times"));
    ASSERT_EQ(run({"capture", m_pty.slavePath(), "--dir", m_dir.path(), "--name", "earlier.bin",
                   "--times"}),
              1);
    EXPECT_TRUE(m_err.contains("Could not open file " + path("earlier.bin.times").toLocal8Bit()))
        << m_err.constData();
    EXPECT_EQ(readFile(path("earlier.bin")), "an earlier capture");
    ASSERT_TRUE(QFile::link(path("earlier.bin"), path("link.bin")));
    ASSERT_EQ(run({"capture", m_pty.slavePath(), "--dir", m_dir.path(), "--name", "link.bin",
                   "--seconds", "0.2"}),
              1);
    EXPECT_TRUE(m_err.contains("Could not open file " + path("link.bin").toLocal8Bit() +
                               ": Too many levels of symbolic links"))
        << m_err.constData();
    EXPECT_EQ(readFile(path("earlier.bin")), "an earlier capture");

    ASSERT_EQ(run({"capture", m_pty.slavePath(), "--dir", m_dir.path(), "--seconds", "0.1",
                   "--data", "7", "--stop", "1.5"}),
              0);
    EXPECT_TRUE(m_err.contains("warning: the port kept data bits 8 instead of 7"))
        << m_err.constData();
    EXPECT_TRUE(m_err.contains("warning: the port kept stop bits 1 instead of 1.5"))
        << m_err.constData();
}

TEST_F(CliProgram, BadUsageExitsWith2AndFailuresToOpenWith1) {
    const QStringList usage[] = {
        {"frobnicate"},
        {"capture"},
        {"send", m_pty.slavePath(), path("x.bin"), "--bogus"},
        {"capture", m_pty.slavePath(), "--dir", m_dir.path(), "--parity", "sometimes"},
        {"send", m_pty.slavePath(), path("x.bin"), "--delay"},
        {"hex", path("a"), path("b")},
        // An empty value would mean another target: standard output, the root folder.
        {"capture", m_pty.slavePath(), "--name", ""},
        {"capture", m_pty.slavePath(), "--dir", "", "--name", "e.bin"},
        {"send", m_pty.slavePath(), "--text", "x", "--report", ""},
    };
    for (const QStringList &arguments : usage) {
        EXPECT_EQ(run(arguments), 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(m_err.contains("--help")) << m_err.constData();
    }
    // Each time names the range it takes.
    const struct {
        QStringList arguments;
        QByteArray says;
    } ranges[] = {
        {{"capture", m_pty.slavePath(), "--seconds", "3000000"},
         "Bad value for --seconds: 3000000 (more than 0, at most 2147483)"},
        {{"send", m_pty.slavePath(), "--text", "x", "--line-delay", "1e12"},
         "Bad value for --line-delay: 1e12 (0 to 2147483647)"},
        {{"send", m_pty.slavePath(), "--text", "x", "--delay", "1e300"},
         "Bad value for --delay: 1e300 (-1, or 0 to 2147483647 milliseconds)"},
    };
    for (const auto &r : ranges) {
        EXPECT_EQ(run(r.arguments), 2) << r.arguments.join(' ').toStdString();
        EXPECT_TRUE(m_err.contains(r.says)) << m_err.constData();
    }
    // A time below the resolution is the resolution, not "no limit".
    EXPECT_EQ(run({"capture", m_pty.slavePath(), "--dir", m_dir.path(), "--name", "idle.bin",
                   "--idle", "0.0004"}),
              0)
        << m_err.constData();
    ASSERT_TRUE(QFile::remove(path("idle.bin")));
    EXPECT_TRUE(QDir(m_dir.path()).isEmpty()) << "bad usage opened nothing";

    ASSERT_EQ(run({"capture", "/nonexistent/ttyX", "--dir", m_dir.path()}), 1);
    EXPECT_TRUE(m_err.contains("Could not open port /nonexistent/ttyX")) << m_err.constData();
    EXPECT_EQ(m_out, "");
    ASSERT_EQ(run({"send", m_pty.slavePath(), path("missing.bin")}), 1);
    EXPECT_TRUE(m_err.contains("Could not open file " + path("missing.bin").toLocal8Bit()));

    ASSERT_EQ(run({"--version"}), 0);
    EXPECT_EQ(m_out, "kalvosan-cli " KV_PROJECT_VERSION "\n");
    // Every help text offers --help-all; it answers.
    for (const QStringList &help : {QStringList{"--help-all"}, QStringList{"send", "--help-all"}}) {
        ASSERT_EQ(run(help), 0) << m_err.constData();
        EXPECT_TRUE(m_out.startsWith("Usage: kalvosan-cli")) << m_out.constData();
    }
}

} // namespace
