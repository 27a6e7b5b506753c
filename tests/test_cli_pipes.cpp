// kalvosan-cli in pipes and scripts, run as a user runs it: standard input into a send (from a
// shell pipe, a FIFO, a writer that stops writing), a capture into standard output and a reader
// that stops reading, the live hex view, captures that end by silence or wait for their device,
// bytes given on the command line, the modem lines of a pty, and -q.
#include "tests/test_cli_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace testsupport;

class CliPipes : public CliProcessTest {
protected:
    QString program() const { return QCoreApplication::applicationDirPath() + "/kalvosan-cli"; }
    // A command line of the shell, with the program and the pty quoted in it.
    void shell(const QString &script) {
        m_process.start("/bin/sh", {"-c", QString(script)
                                              .replace("CLI", '\'' + program() + '\'')
                                              .replace("PTY", '\'' + m_pty.slavePath() + '\'')});
        ASSERT_TRUE(m_process.waitForStarted());
    }
    // Standard error as it has come so far, while the program runs.
    bool errorSays(const QByteArray &text) {
        return waitUntil([&] {
            m_err += m_process.readAllStandardError();
            return m_err.contains(text);
        });
    }
};

// Sync bytes, quicker than syncCapture's and than an idle time, until `landed` says one came
// through: a start drops the bytes that came before it.
bool syncUntil(Pty &pty, const std::function<bool()> &landed) {
    return waitUntil(
        [&] {
            pty.write(QByteArray(1, kSync));
            return waitUntil(landed, 100);
        },
        15000);
}

// The device's side of a pty that the program may stop reading: writes what it takes within
// the time, never waiting beyond it.
qint64 offerToPty(Pty &pty, const QByteArray &bytes, int timeoutMs) {
    qint64 done = 0;
    QElapsedTimer timer;
    timer.start();
    while (done < bytes.size() && timer.elapsed() < timeoutMs) {
        const ssize_t n = ::write(pty.master(), bytes.constData() + done, bytes.size() - done);
        if (n > 0)
            done += n;
        else
            QThread::msleep(5);
    }
    return done;
}

TEST_F(CliPipes, SendsWhatAShellPipeAFifoOrAWriterThatStopsGivesIt) {
    const QByteArray payload = randomPayload(300, 11);
    writeFile(path("payload.bin"), payload);
    shell("cat '" + path("payload.bin") + "' | CLI send PTY - --delay 0.1");
    EXPECT_EQ(m_pty.read(int(payload.size()), 20000), payload);
    ASSERT_EQ(finish(), 0) << m_err.constData();
    EXPECT_TRUE(m_err.contains("Bytes sent: 300")) << m_err.constData();

    // Whole chunks, and quiet: nothing on standard error.
    const QByteArray big = randomPayload(200 * 1024, 12);
    writeFile(path("big.bin"), big);
    shell("cat '" + path("big.bin") + "' | CLI -q send PTY - --delay -1 --baud 115200");
    EXPECT_EQ(m_pty.read(int(big.size()), 20000), big);
    ASSERT_EQ(finish(), 0) << m_err.constData();
    EXPECT_EQ(m_err, "");

    // A writer that keeps standard input open and sends no more: a signal still ends the send.
    start({"send", m_pty.slavePath(), "-", "--delay", "0"});
    m_process.write("abc");
    EXPECT_EQ(m_pty.read(3), "abc");
    m_process.terminate();
    EXPECT_EQ(finish(10000), 1);
    EXPECT_TRUE(m_err.contains("Send interrupted after 3 bytes")) << m_err.constData();

    // A FIFO by name: the send waits for its writer, and ends with it.
    const QString fifo = path("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    start({"send", m_pty.slavePath(), fifo});
    int writer = -1;
    // The FIFO takes a writer once the program reads it.
    ASSERT_TRUE(waitUntil([&] {
        writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        return writer >= 0;
    }));
    EXPECT_EQ(m_pty.read(1, 300), "") << "nothing before the writer writes";
    ASSERT_EQ(::write(writer, "from a fifo", 11), 11);
    ::close(writer);
    EXPECT_EQ(m_pty.read(11), "from a fifo");
    EXPECT_EQ(finish(), 0) << m_err.constData();

    // A terminal as the file: read as a stream, what is typed goes out, and Ctrl-C ends it.
    Pty terminal;
    start({"send", m_pty.slavePath(), terminal.slavePath(), "--delay", "0"});
    QThread::msleep(300);
    terminal.write("typed\n");
    EXPECT_EQ(m_pty.read(6), "typed\n");
    ::kill(pid_t(m_process.processId()), SIGINT);
    EXPECT_EQ(finish(5000), 1);
    EXPECT_TRUE(m_err.contains("Send interrupted after 6 bytes")) << m_err.constData();

    // hex lists standard input with the labels of a listing without a known length.
    shell("printf 'Hello, world!' | CLI hex -");
    ASSERT_EQ(finish(), 0) << m_err.constData();
    EXPECT_EQ(m_out,
              QByteArray("00000000  48 65 6C 6C  6F 2C 20 77  6F 72 6C 64  21").leftJustified(62) +
                  "Hello, world!\n");
}

// capture --output -: the bytes raw on standard output and -<TAB>COUNT on standard error. A
// reader that stops reading fills the pipe; Ctrl-C still ends the capture, and COUNT is what
// the reader has.
TEST_F(CliPipes, ACaptureToStandardOutputEndsWhenItsReaderStopsReading) {
    start({"capture", m_pty.slavePath(), "--output", "-"});
    const auto synced = [&] {
        m_out += m_process.readAllStandardOutput();
        return !m_out.isEmpty();
    };
    ASSERT_TRUE(syncUntil(m_pty, synced));
    const QByteArray payload = randomPayload(5000, 13);
    m_pty.write(payload);
    ASSERT_TRUE(waitUntil([&] { return synced() && m_out.endsWith(payload); }));
    m_process.terminate();
    const QByteArray captured = m_out;
    ASSERT_EQ(finish(), 0) << m_err.constData();
    EXPECT_EQ(afterSync(captured + m_out), payload);
    EXPECT_EQ(m_err, "-\t" + QByteArray::number((captured + m_out).size()) + "\n");
    EXPECT_TRUE(QDir(m_dir.path()).isEmpty()) << "no file";

    // The reader holds its end of a FIFO open and reads no more after the sync.
    const QString fifo = path("reader");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    m_process.setStandardOutputFile(fifo);
    start({"capture", m_pty.slavePath(), "--output", "-"});
    char buffer[65536];
    QByteArray got;
    const auto readSome = [&] {
        const ssize_t n = ::read(reader, buffer, sizeof buffer);
        if (n > 0)
            got.append(buffer, n);
        return n;
    };
    ASSERT_TRUE(syncUntil(m_pty, [&] { return readSome() > 0; }));
    const QByteArray flood = randomPayload(1 << 20, 14);
    const qint64 offered = offerToPty(m_pty, flood, 1500);
    ::kill(pid_t(m_process.processId()), SIGINT);
    EXPECT_EQ(finish(10000), 0) << m_err.constData();
    while (readSome() > 0) {
    }
    ::close(reader);
    EXPECT_GT(offered, 64 * 1024) << "the pipe was full";
    EXPECT_EQ(m_err, "-\t" + QByteArray::number(got.size()) + "\n");
    EXPECT_EQ(afterSync(got), flood.left(afterSync(got).size()));

    // The replies of send --monitor to a reader that reads none of them: Ctrl-C still ends it.
    const QString replies = path("replies");
    ASSERT_EQ(::mkfifo(QFile::encodeName(replies).constData(), 0600), 0);
    const int stalled = ::open(QFile::encodeName(replies).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(stalled, 0);
    m_process.setStandardOutputFile(replies);
    start({"send", m_pty.slavePath(), "--text", "go", "--monitor", "60"});
    EXPECT_EQ(m_pty.read(2), "go");
    // A byte takes about five characters of its line, so 16 KB fill the pipe; the monitor reads no
    // more of the device than its reader takes, plus what the pty holds.
    const qint64 answered = offerToPty(m_pty, randomPayload(1 << 20, 15), 1500);
    EXPECT_GT(answered, 64 * 1024 / 4);
    EXPECT_LT(answered, 128 * 1024);
    ::kill(pid_t(m_process.processId()), SIGINT);
    EXPECT_EQ(finish(5000), 0) << m_err.constData();
    // Nor does it keep the monitor's time from ending it, while the device goes on answering.
    QElapsedTimer clock;
    clock.start();
    start({"send", m_pty.slavePath(), "--text", "go", "--monitor", "1"});
    EXPECT_EQ(m_pty.read(2), "go");
    offerToPty(m_pty, randomPayload(1 << 22, 16), 4000);
    EXPECT_EQ(finish(15000 - int(clock.elapsed())), 0) << m_err.constData();
    EXPECT_EQ(m_err, "") << "the time limit is no failure";
    ::close(stalled);
}

// The live view: each burst from its own offset, its partial last line printed at once, headed
// by its time; --save keeps the raw bytes.
TEST_F(CliPipes, MonitorShowsEachBurstFromItsOffset) {
    const QString saved = path("saved.bin");
    start({"monitor", m_pty.slavePath(), "--times", "--save", saved});
    ASSERT_TRUE(syncUntil(m_pty, [&] { return QFileInfo(saved).size() > 0; }));
    m_pty.write("Hello");
    ASSERT_TRUE(waitUntil([&] { return readFile(saved).endsWith("Hello"); }));
    const qint64 syncs = QFileInfo(saved).size() - 5;
    QByteArray listing;
    EXPECT_TRUE(waitUntil([&] {
        listing += m_process.readAllStandardOutput();
        return listing.contains("Hello\n");
    })) << "a partial line as soon as its burst ends";
    m_pty.write("0123456789abcdefghij");
    ASSERT_TRUE(waitUntil([&] { return readFile(saved).endsWith("ghij"); }));
    m_process.terminate();
    ASSERT_EQ(finish(), 0) << m_err.constData();
    listing += m_out;
    const QList<QByteArray> lines = listing.trimmed().split('\n');
    ASSERT_GE(lines.size(), 5) << listing.constData();
    const auto label = [](qint64 offset) {
        return QByteArray::number(offset, 16).toUpper().rightJustified(8, '0');
    };
    const QList<QByteArray> bursts = lines.mid(lines.size() - 5);
    const QRegularExpression time("^# \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{6}");
    EXPECT_TRUE(time.match(QString(bursts[0])).hasMatch()) << bursts[0].constData();
    EXPECT_EQ(bursts[1],
              label(syncs) + QByteArray("  48 65 6C 6C  6F").leftJustified(59 - 5) + "Hello");
    EXPECT_TRUE(time.match(QString(bursts[2])).hasMatch()) << bursts[2].constData();
    EXPECT_EQ(bursts[3], label(syncs + 5) + "  30 31 32 33  34 35 36 37  38 39 61 62  63 64 65 66  "
                                            "0123456789abcdef");
    EXPECT_EQ(bursts[4],
              label(syncs + 21) + QByteArray("  67 68 69 6A").leftJustified(59 - 5) + "ghij");
    EXPECT_EQ(readFile(saved), QByteArray(syncs, kSync) + "Hello0123456789abcdefghij");
}

// --idle counts from the last byte (and from the open while none came); a device that is away
// is silence too.
TEST_F(CliPipes, CapturesEndAfterTheirIdleTime) {
    ASSERT_EQ(run({"monitor", m_pty.slavePath(), "--idle", "0.3"}), 0) << m_err.constData();
    EXPECT_EQ(m_out, "");

    const auto sync = [&](const QString &capture) {
        return syncUntil(m_pty, [&] { return QFileInfo(capture).size() > 0; });
    };
    const QString capture = path("data000000.bin");
    start({"capture", m_pty.slavePath(), "--dir", m_dir.path(), "--idle", "0.6"});
    ASSERT_TRUE(sync(capture));
    // Bytes keep coming for longer than the idle time: the capture goes on.
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 1200) {
        m_pty.write("t");
        waitUntil([] { return false; }, 150);
    }
    EXPECT_EQ(m_process.state(), QProcess::Running);
    ASSERT_EQ(finish(5000), 0) << m_err.constData();
    EXPECT_TRUE(afterSync(readFile(capture)).startsWith("tttttt")) << readFile(capture).constData();

    // The device goes away and stays away.
    start({"capture", m_pty.slavePath(), "--dir", m_dir.path(), "--idle", "0.6"});
    ASSERT_TRUE(sync(path("data000001.bin")));
    m_pty.closeMaster();
    EXPECT_EQ(finish(5000), 0) << m_err.constData();
    EXPECT_TRUE(m_err.contains("Waiting for")) << m_err.constData();
}

// --wait: a capture started before its device is there, looked for as after an unplug; Ctrl-C
// ends the wait without a file.
TEST_F(CliPipes, ACaptureWaitsForItsDeviceToAppear) {
    const QString link = path("usb-later-if00");
    start({"capture", link, "--dir", m_dir.path(), "--wait"});
    ASSERT_TRUE(errorSays("kalvosan-cli: Waiting for " + link.toLocal8Bit() + "...\n"));
    ::kill(pid_t(m_process.processId()), SIGINT);
    ASSERT_EQ(finish(5000), 0) << m_err.constData();
    EXPECT_EQ(m_out, "");
    EXPECT_TRUE(QDir(m_dir.path()).isEmpty());

    m_err.clear();
    start({"capture", link, "--dir", m_dir.path(), "--wait", "--bytes", "8"});
    ASSERT_TRUE(errorSays("Waiting for"));
    ASSERT_TRUE(QFile::link(m_pty.slavePath(), link));
    const QString capture = path("data000000.bin");
    ASSERT_TRUE(syncUntil(m_pty, [&] { return QFileInfo(capture).size() > 0; }));
    m_pty.write("appeared");
    ASSERT_EQ(finish(), 0) << m_err.constData();
    EXPECT_EQ(m_out, capture.toLocal8Bit() + "\t8\n");
    EXPECT_TRUE(QByteArray("appeared").startsWith(afterSync(readFile(capture))));
}

// --hex and --text put their bytes on the wire; a pulse on a port without modem lines warns and
// the send goes on; -q, before or after the command, leaves standard error to errors.
TEST_F(CliPipes, BytesFromTheCommandLineAndModemLinesOfAPty) {
    start({"send", m_pty.slavePath(), "--hex", "01 02 0xFF 7e"});
    EXPECT_EQ(m_pty.read(4), QByteArray("\x01\x02\xFF\x7E"));
    ASSERT_EQ(finish(), 0) << m_err.constData();

    start({"send", m_pty.slavePath(), "--text", "AT\\r\\n\\x00", "--pulse", "dtr:50", "--delay",
           "0"});
    EXPECT_EQ(m_pty.read(5), QByteArray("AT\r\n\0", 5));
    ASSERT_EQ(finish(), 0) << m_err.constData();
    EXPECT_TRUE(m_err.contains("warning: the port has no modem lines")) << m_err.constData();
    EXPECT_TRUE(m_err.contains("Bytes sent: 5")) << m_err.constData();

    for (const QStringList &quiet :
         {QStringList{"-q", "send", m_pty.slavePath(), "--text", "q", "--pulse", "rts:20"},
          QStringList{"send", m_pty.slavePath(), "--text", "q", "--dtr", "off", "-q", "--delay",
                      "0"}}) {
        start(quiet);
        EXPECT_EQ(m_pty.read(1), "q");
        ASSERT_EQ(finish(), 0) << m_err.constData();
        EXPECT_EQ(m_err, "") << quiet.join(' ').toStdString();
    }

    writeFile(path("x.bin"), "x");
    for (const QStringList &bad :
         {QStringList{"send", m_pty.slavePath(), "--hex", "1 2"},
          QStringList{"send", m_pty.slavePath(), "--text", "\\q"},
          QStringList{"send", m_pty.slavePath(), path("x.bin"), "--text", "x"},
          QStringList{"send", m_pty.slavePath()},
          QStringList{"capture", m_pty.slavePath(), "--output", "-", "--times"}}) {
        EXPECT_EQ(run(bad), 2) << bad.join(' ').toStdString();
        EXPECT_TRUE(m_err.contains("--help")) << m_err.constData();
    }
    EXPECT_EQ(m_pty.read(1, 300), "") << "bad usage sent nothing";
}

// Standard output that fails, or that the program was started without, is an exit 1 with the
// reason, never a success or a write into another descriptor; arguments are the bytes given.
TEST_F(CliPipes, TheStandardStreamsFailAloudAndArgumentsKeepTheirBytes) {
    for (const QString &script :
         {QStringLiteral("CLI ports --json > /dev/full"), QStringLiteral("CLI --help > /dev/full"),
          QStringLiteral("CLI ports --json >&-"),
          "CLI capture PTY --dir '" + m_dir.path() + "' --seconds 0.2 > /dev/full"}) {
        shell(script);
        EXPECT_EQ(finish(), 1) << script.toStdString();
        EXPECT_TRUE(m_err.contains("Could not write standard output: ")) << m_err.constData();
    }

    shell("CLI capture PTY --output - --bytes 8 >&-");
    EXPECT_EQ(finish(), 1);
    EXPECT_EQ(m_err, "kalvosan-cli: Could not write standard output: Bad file descriptor\n");
    shell("CLI send PTY - <&-");
    EXPECT_EQ(finish(5000), 1);
    EXPECT_EQ(m_err, "kalvosan-cli: Could not open file -: Bad file descriptor\n");
    EXPECT_EQ(m_pty.read(1, 200), "");

    shell(R"sh(CLI send PTY --text "$(printf '\377\376A')")sh");
    EXPECT_EQ(m_pty.read(3), "\xff\xfe"
                             "A");
    EXPECT_EQ(finish(), 0) << m_err.constData();
    const QByteArray latin1Name = QFile::encodeName(m_dir.path()) + "/caf\xe9.bin";
    QFile named;
    ASSERT_TRUE(named.open(::open(latin1Name.constData(), O_WRONLY | O_CREAT, 0600),
                           QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
    named.write("latin-1 named");
    named.close();
    shell(R"sh(CLI send PTY "$(printf ')sh" + m_dir.path() + R"sh(/caf\351.bin')")sh");
    EXPECT_EQ(m_pty.read(13), "latin-1 named");
    EXPECT_EQ(finish(), 0) << m_err.constData();
    ::unlink(latin1Name.constData()); // a name Qt's own removal of the folder cannot spell
}

} // namespace
