// kalvosan-cli term as a person uses it: a pty is its own terminal (the test types on that
// pty's master and reads the screen there), another pty is the device (the test plays it on
// its master). And as a pipe, and on a serial server across the network.
#include "loader/arrival_times.h"
#include "tests/test_cli_support.h"
#include "tests/test_lrzsz_peer.h"
#include "tests/test_network_support.h"

#include <QDir>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace testsupport;

constexpr char kCtrlT = 0x14;

// A terminal as a user's shell has it: a fresh pty in its cooked mode.
class UserTerminal {
public:
    UserTerminal() {
        char name[256] = {};
        if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
            std::abort();
        ::fcntl(m_master, F_SETFL, O_NONBLOCK);
        m_path = QString::fromLocal8Bit(name);
    }
    ~UserTerminal() {
        ::close(m_master);
        ::close(m_slave);
    }
    int slave() const { return m_slave; }
    const QString &path() const { return m_path; }
    void type(const QByteArray &keys) {
        ASSERT_EQ(::write(m_master, keys.data(), keys.size()), keys.size());
    }
    void clear() {
        screen();
        m_screen.clear();
    }
    // Everything shown so far.
    const QByteArray &screen() {
        char buffer[65536];
        ssize_t n = 0;
        while ((n = ::read(m_master, buffer, sizeof buffer)) > 0)
            m_screen.append(buffer, n);
        return m_screen;
    }
    bool shows(const QByteArray &text, int timeoutMs = 10000) {
        return waitUntil([&] { return screen().contains(text); }, timeoutMs);
    }
    // The terminal's whole mode, as the user would look at it.
    QByteArray stty() const {
        QProcess stty;
        stty.start("stty", {"-a", "-F", m_path});
        stty.waitForFinished();
        return stty.readAllStandardOutput();
    }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
    QByteArray m_screen;
};

class TermCli : public CliProcessTest {
protected:
    // The program with the user's terminal as its controlling terminal and standard streams
    // (standard output left to the test's pipe when asked).
    void startOnTerminal(const QStringList &arguments, bool pipeOutput = false) {
        const int slave = m_user.slave();
        m_process.setChildProcessModifier([slave, pipeOutput] {
            ::setsid();
            ::ioctl(slave, TIOCSCTTY, 0);
            ::dup2(slave, STDIN_FILENO);
            if (!pipeOutput)
                ::dup2(slave, STDOUT_FILENO);
            ::dup2(slave, STDERR_FILENO);
        });
        start(QStringList{"term"} + arguments);
    }
    bool connected() { return m_user.shows("[kalvosan] Connected to "); }

    UserTerminal m_user;
};

TEST_F(TermCli, KeysGoToTheDeviceAsTypedAndTheQuitKeyGivesTheTerminalBack) {
    const QByteArray before = m_user.stty();
    ASSERT_TRUE(before.contains(" icanon") && before.contains(" echo")) << before.constData();
    startOnTerminal({m_pty.slavePath(), "--eol-out", "crlf"});
    ASSERT_TRUE(connected()) << m_user.screen().constData();
    EXPECT_NE(m_user.stty(), before) << "raw while it runs";
    m_user.type("AT+GMR\r\x03");
    m_user.type(QByteArray(2, kCtrlT));
    EXPECT_EQ(m_pty.read(10), QByteArray("AT+GMR\r\n\x03\x14"));
    // The device's bytes, escape sequences included, reach the screen as they are.
    const QByteArray answer = "OK\r\n\x1b[31mred\x1b[0m\r\n";
    m_pty.write(answer);
    EXPECT_TRUE(m_user.shows(answer)) << m_user.screen().constData();
    m_user.type(QByteArray(1, kCtrlT) + "w");
    EXPECT_TRUE(
        m_user.shows("\r\n[kalvosan] warning: no command w: Ctrl-T ? lists the commands\r\n"));
    m_user.type(QByteArray(1, kCtrlT) + "i");
    EXPECT_TRUE(
        m_user.shows("[kalvosan] Bytes in " + QByteArray::number(answer.size()) + ", out 10"))
        << m_user.screen().constData();
    m_user.type(QByteArray(1, kCtrlT) + "q");
    EXPECT_EQ(finish(), 0);
    EXPECT_EQ(m_user.stty(), before);
    EXPECT_EQ(m_pty.read(1, 300), "") << "the quit key is not sent";
}

// SIGTERM, SIGHUP, SIGINT sent from elsewhere, and standard output closing: each ends the
// terminal, which is left as it was.
TEST_F(TermCli, EveryWayOutGivesTheTerminalBack) {
    const QByteArray before = m_user.stty();
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        m_user.clear();
        startOnTerminal({m_pty.slavePath()});
        ASSERT_TRUE(connected()) << signal;
        ::kill(pid_t(m_process.processId()), signal);
        EXPECT_EQ(finish(), 0) << signal;
        EXPECT_EQ(m_user.stty(), before) << signal;
    }
    // Standard output is a FIFO whose reader goes.
    const QByteArray fifo = QFile::encodeName(path("screen"));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    m_process.setStandardOutputFile(path("screen"));
    m_user.clear();
    startOnTerminal({m_pty.slavePath()}, true);
    ASSERT_TRUE(connected());
    ::close(reader);
    m_pty.write("nobody reads this");
    EXPECT_EQ(finish(), 1);
    EXPECT_TRUE(m_user.shows("[kalvosan] Could not write standard output: Broken pipe"))
        << m_user.screen().constData();
    EXPECT_EQ(m_user.stty(), before);
}

TEST_F(TermCli, TheLogHoldsExactlyTheDevicesBytesWhileTheViewsSwitch) {
    startOnTerminal(
        {m_pty.slavePath(), "--log", "--dir", m_dir.path(), "--name", "log000.bin", "--times"});
    ASSERT_TRUE(connected());
    const QString log = path("log000.bin");
    EXPECT_TRUE(m_user.shows("[kalvosan] Logging to " + log.toLocal8Bit() + "\r\n"));
    QByteArray sent;
    const auto device = [&](const QByteArray &bytes) {
        m_pty.write(bytes);
        sent += bytes;
        ASSERT_TRUE(waitUntil([&] { return readFile(log).size() == sent.size(); }))
            << readFile(log).size() << " of " << sent.size();
    };
    const auto key = [&](char command, const QByteArray &said) {
        m_user.type(QByteArray(1, kCtrlT) + command);
        ASSERT_TRUE(m_user.shows(said)) << said.constData();
    };
    device("plain text\r\n");
    key('h', "[kalvosan] Hex view on");
    device(randomPayload(3000, 23));
    device("AB");
    EXPECT_TRUE(m_user.shows("41 42")) << "the hex view";
    key('t', "[kalvosan] Time stamps: wall clock");
    device(QByteArray("\r\n\x00\xff", 4));
    key('h', "[kalvosan] Hex view off");
    device("stamped\r\n");
    EXPECT_TRUE(waitUntil([&] {
        return QRegularExpression(R"(\[\d\d:\d\d:\d\d\.\d\d\d\] stamped\r\n)")
            .match(QString::fromLatin1(m_user.screen()))
            .hasMatch();
    })) << m_user.screen().right(200).constData();
    key('l', "[kalvosan] Log " + log.toLocal8Bit() + " closed: " + QByteArray::number(sent.size()) +
                 " bytes");
    m_pty.write("after the log");
    EXPECT_TRUE(m_user.shows("after the log"));
    m_user.type(QByteArray(1, kCtrlT) + "q");
    EXPECT_EQ(finish(), 0);
    EXPECT_EQ(readFile(log), sent);
    const QList<arrival::Burst> bursts = arrival::readSidecar(arrival::sidecarPath(log));
    EXPECT_GE(bursts.size(), 5);
}

// Keys that follow an escape command in the same read take its effect, in the order typed;
// after a file sent from the terminal the keys go to the device again; and a device that never
// stops sending keeps neither a key nor the quit key waiting.
TEST_F(TermCli, KeysKeepTheirOrderThroughCommandsASendAndAFlood) {
    const QByteArray before = m_user.stty();
    startOnTerminal({m_pty.slavePath()});
    ASSERT_TRUE(connected());
    const QByteArray t(1, kCtrlT);
    m_user.type("ab" + t + "e" + "cd" + t + "h" + "41 42\r" + t + "h" + "ef");
    EXPECT_EQ(m_pty.read(8), "abcdABef");
    ASSERT_TRUE(m_user.shows("[kalvosan] Hex view off"));
    const QByteArray screen = m_user.screen();
    EXPECT_GT(screen.indexOf("cd", screen.indexOf("[kalvosan] Local echo on")), 0) << "echoed";
    m_user.type("gh");
    EXPECT_EQ(m_pty.read(2), "gh");

    writeFile(path("file.bin"), "FILE-BYTES");
    m_user.type(t + "s");
    ASSERT_TRUE(m_user.shows("[kalvosan] File to send: "));
    m_user.type(path("file.bin").toLocal8Bit() + "\r");
    EXPECT_EQ(m_pty.read(10), "FILE-BYTES");
    ASSERT_TRUE(m_user.shows("[kalvosan] Sent " + path("file.bin").toLocal8Bit() + ": 10 bytes"));
    m_user.type("after");
    EXPECT_EQ(m_pty.read(5), "after");

    std::atomic<bool> flooding{true};
    std::thread device([&] {
        const QByteArray chunk(4096, 'F');
        while (flooding.load()) {
            pollfd p{m_pty.master(), POLLOUT, 0};
            if (::poll(&p, 1, 10) > 0 && ::write(m_pty.master(), chunk.data(), chunk.size()) < 0)
                break;
        }
    });
    qint64 shown = 0;
    const auto drained = [&](qint64 atLeast) {
        return waitUntil([&] {
            shown += m_user.screen().count('F');
            m_user.clear();
            return shown >= atLeast;
        });
    };
    EXPECT_TRUE(drained(1 << 20)) << "the flood reaches the screen";
    m_user.type("k");
    EXPECT_EQ(m_pty.read(1), "k");
    m_user.type(t + "q");
    EXPECT_TRUE(waitUntil(
        [&] {
            m_user.clear();
            return m_process.state() == QProcess::NotRunning;
        },
        20000));
    flooding = false;
    device.join();
    EXPECT_EQ(finish(), 0);
    EXPECT_EQ(m_user.stty(), before);
}

// The port is a link to the device, as /dev/serial/by-id/... links are; the device goes away
// and comes back as another pty behind the same link.
TEST_F(TermCli, AnUnpluggedDeviceIsWaitedForAndTheTerminalGoesOn) {
    const QString link = path("usb-board-if00");
    ASSERT_TRUE(QFile::link(m_pty.slavePath(), link));
    startOnTerminal({link});
    ASSERT_TRUE(connected());
    m_pty.closeMaster();
    ASSERT_TRUE(m_user.shows("[kalvosan] Waiting for " + link.toLocal8Bit() + "...\r\n"));
    // Meanwhile the keys are still read: a key for the device is refused, a command is done.
    m_user.type("x" + QByteArray(1, kCtrlT) + "i");
    EXPECT_TRUE(m_user.shows("[kalvosan] warning: not sent: the device is away\r\n"));
    EXPECT_TRUE(m_user.shows("[kalvosan] Port " + link.toLocal8Bit() + " (away)"));
    Pty replugged;
    ASSERT_TRUE(QFile::remove(link));
    ASSERT_TRUE(QFile::link(replugged.slavePath(), link));
    ASSERT_TRUE(m_user.shows("[kalvosan] " + link.toLocal8Bit() + " is back\r\n"));
    m_user.type("again\r");
    EXPECT_EQ(replugged.read(6), "again\r");
    replugged.write("welcome back");
    EXPECT_TRUE(m_user.shows("welcome back"));
    m_user.type(QByteArray(1, kCtrlT) + "q");
    EXPECT_EQ(finish(), 0);
}

// Not a terminal: standard input to the device, the answer to standard output, and the end
// after the input ended and the device went quiet. Locally and through ser2net.
TEST_F(TermCli, AsAPipeItSendsTheInputAndPrintsTheAnswer) {
    Ser2net server;
    ASSERT_TRUE(server.start()) << server.failure().toStdString();
    for (Pty *device : {&m_pty, &server.device()}) {
        const QString port = device == &m_pty ? m_pty.slavePath() : server.portName();
        start({"term", port, "--eol-out", "crlf", "--idle", "0.5"});
        m_process.write("version\n");
        m_process.closeWriteChannel();
        EXPECT_EQ(device->read(9, 10000), "version\r\n") << port.toStdString();
        const QByteArray answer = everyByteValue(600);
        device->write(answer);
        ASSERT_EQ(finish(), 0) << m_err.constData();
        EXPECT_EQ(m_out, answer) << port.toStdString();
        EXPECT_EQ(m_err, "") << m_err.constData();
    }
}

} // namespace

namespace {

// Ctrl-T x and y hand the port to a transfer, which the escape key aborts, and the terminal goes
// on; the device's sz starts a ZMODEM receive by itself.
TEST_F(TermCli, TransfersFromInsideTheTerminalAndTheDevicesZmodemStart) {
    QTemporaryDir peer;
    const QByteArray bytes = randomPayload(100000, 11);
    const QString source = path("out.bin");
    writeFile(source, bytes);
    startOnTerminal({m_pty.slavePath(), "--baud", "115200", "--dir", m_dir.path()});
    ASSERT_TRUE(connected()) << m_user.screen().constData();
    {
        LrzszPeer rb(m_pty.master(), {"rb", "-b"}, peer.path(), {}, 0);
        m_user.type(QByteArray(1, kCtrlT) + "x");
        ASSERT_TRUE(m_user.shows("YMODEM (y) or ZMODEM (z): "));
        m_user.type("y");
        ASSERT_TRUE(m_user.shows("File to send: "));
        m_user.type(source.toLocal8Bit() + "\r");
        EXPECT_TRUE(m_user.shows("Transfer complete: out.bin, 100000 bytes", 60000))
            << m_user.screen().constData();
        EXPECT_EQ(rb.wait(), 0);
    }
    EXPECT_EQ(readFile(peer.filePath("out.bin")), bytes);
    m_user.clear();
    {
        // The device's sz prints its start; the terminal receives into its directory.
        LrzszPeer sz(m_pty.master(), {"sz", "-b", peer.filePath("out.bin")}, peer.path(), {}, 0);
        EXPECT_TRUE(m_user.shows("[kalvosan] The device sends by ZMODEM"));
        EXPECT_TRUE(m_user.shows("Transfer complete: out-1.bin, 100000 bytes", 60000))
            << m_user.screen().constData();
        EXPECT_EQ(sz.wait(), 0);
    }
    EXPECT_EQ(readFile(path("out-1.bin")), bytes);
    // A receive that no sender answers ends with the escape key, which the device never gets.
    m_user.clear();
    m_user.type(QByteArray(1, kCtrlT) + "y");
    ASSERT_TRUE(m_user.shows("YMODEM (y) or ZMODEM (z): "));
    m_user.type("x");
    ASSERT_TRUE(m_user.shows("(Ctrl-T aborts)")) << m_user.screen().constData();
    m_user.type(QByteArray(1, kCtrlT));
    EXPECT_TRUE(m_user.shows("[kalvosan] Transfer aborted")) << m_user.screen().constData();
    // And the terminal goes on with the port.
    m_user.type("AT\r");
    QByteArray device;
    EXPECT_TRUE(waitUntil([&] {
        device += m_pty.read(1, 10);
        return device.endsWith("AT\r");
    })) << device.toHex().constData();
    EXPECT_FALSE(device.contains(kCtrlT)) << device.toHex().constData();
    m_user.type(QByteArray(1, kCtrlT) + "q");
    EXPECT_EQ(finish(), 0);
}

} // namespace
