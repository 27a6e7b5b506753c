// kalvosan-cli through a real ser2net, a recording server of the test's own and hostile ones.
#include "loader/arrival_times.h"
#include "serial/telnet_codec.h"
#include "tests/test_cli_support.h"
#include "tests/test_network_support.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <termios.h>

namespace {

using namespace testsupport;
using serial::telnet::kIac;

class NetworkCli : public CliProcessTest {
protected:
    void startServer(Ser2net &server) {
        ASSERT_TRUE(server.start()) << server.failure().toStdString();
    }
    bool errContains(const QByteArray &text) {
        m_err += m_process.readAllStandardError();
        return m_err.contains(text);
    }
};

TEST_F(NetworkCli, CapturesEveryByteValueAndGoesOnWhenTheServerIsBack) {
    Ser2net server;
    startServer(server);
    const QString capture = path("data000000.bin");
    start({"capture", server.portName(), "--dir", m_dir.path(), "--times"});
    ASSERT_TRUE(syncCapture(server.device(), capture));
    const QByteArray payload = everyByteValue(1 << 20);
    server.device().write(payload);
    ASSERT_TRUE(waitUntil([&] { return afterSync(readFile(capture)) == payload; }, 30000))
        << QFileInfo(capture).size();

    server.stop();
    ASSERT_TRUE(waitUntil([&] {
        return errContains("kalvosan-cli: Waiting for " + server.portName().toUtf8() + "...\n");
    }));
    startServer(server);
    ASSERT_TRUE(waitUntil(
        [&] {
            if (!readFile(capture).endsWith("|after"))
                server.device().write("|after");
            return waitUntil([&] { return readFile(capture).endsWith("|after"); }, 600);
        },
        20000));
    m_process.terminate();
    ASSERT_EQ(finish(), 0) << m_err.constData();
    const QByteArray captured = afterSync(readFile(capture));
    EXPECT_TRUE(captured.startsWith(payload + "|after")) << captured.size();
    const QList<arrival::Burst> bursts = arrival::readSidecar(arrival::sidecarPath(capture));
    EXPECT_EQ(
        std::count_if(bursts.begin(), bursts.end(), [](const auto &b) { return b.reconnected; }),
        1);
}

TEST_F(NetworkCli, SendsByteByByteAndWholeWithTheLineSettingsArriving) {
    Ser2net server;
    startServer(server);
    const QByteArray bytes = everyByteValue(300);
    writeFile(path("bytes.bin"), bytes);
    start({"send", server.portName(), path("bytes.bin"), "--delay", "1", "--baud", "250000",
           "--stop", "2", "--parity", "odd", "--flow", "hardware"});
    DeviceLine line;
    EXPECT_EQ(readWithLine(server.device(), bytes.size(), line), bytes);
    EXPECT_EQ(line.baud, 250000u);
    // A pty keeps no parity bit (PARENB) but reports which parity was asked for.
    EXPECT_EQ(line.cflags, unsigned(CSTOPB | PARODD | CRTSCTS));
    ASSERT_EQ(finish(), 0) << m_err.constData();
    EXPECT_TRUE(m_err.contains("Bytes sent: 300")) << m_err.constData();
    EXPECT_TRUE(m_err.contains("Measured where the bytes left this machine")) << m_err.constData();

    const QByteArray whole = everyByteValue(256 * 1024);
    writeFile(path("whole.bin"), whole);
    start({"send", server.portName(), path("whole.bin"), "--delay", "-1", "--baud", "14400",
           "--stop", "1", "--parity", "mark", "--flow", "software"});
    EXPECT_TRUE(readWithLine(server.device(), whole.size(), line) == whole);
    EXPECT_EQ(line.baud, 14400u);
    EXPECT_EQ(line.cflags, unsigned(PARODD | CMSPAR));
    EXPECT_EQ(line.iflags, unsigned(IXON | IXOFF));
    ASSERT_EQ(finish(), 0) << m_err.constData();
}

// Answers each Com Port request with the value asked for, except the baud rate, which it keeps
// at 9600, and records everything.
void answeringServer(int socket, FakeServer &server, const std::atomic<bool> &running) {
    serial::telnet::Client decoder; // reads the client's stream as a server would
    QByteArray seen;
    while (running && seen.size() < 4096) {
        const qsizetype before = server.received().size();
        FakeServer::drain(socket, server, 20);
        const QByteArray all = server.received();
        if (all.size() == before)
            continue;
        for (qsizetype at = all.indexOf("\xff\xfa\x2c"); at >= 0;
             at = all.indexOf("\xff\xfa\x2c", at + 1)) {
            if (at + 4 >= all.size() || at < seen.size())
                continue;
            const auto command = std::uint8_t(all[at + 3]);
            QByteArray answer("\xff\xfa\x2c", 3);
            answer += char(command + 100);
            answer += command == 1 ? QByteArray("\x00\x00\x25\x80", 4) : all.mid(at + 4, 1);
            answer += "\xff\xf0";
            ::send(socket, answer.constData(), size_t(answer.size()), MSG_NOSIGNAL);
        }
        seen = all;
    }
}

TEST_F(NetworkCli, SevenDataBitsAndEvenParityReachTheServerAndWhatItKeptIsSaid) {
    FakeServer *self = nullptr;
    FakeServer server([&](int socket, const std::atomic<bool> &running) {
        answeringServer(socket, *self, running);
    });
    self = &server;
    const QByteArray bytes = everyByteValue(1000);
    writeFile(path("bytes.bin"), bytes);
    const QString name = QStringLiteral("rfc2217://localhost:%1").arg(server.port());
    ASSERT_EQ(run({"send", name, path("bytes.bin"), "--delay", "-1", "--baud", "57600", "--data",
                   "7", "--parity", "even", "--stop", "2"}),
              0)
        << m_err.constData();
    EXPECT_TRUE(m_err.contains("the port kept baud rate 9600 instead of 57600"))
        << m_err.constData();
    const QByteArray wire = server.received();
    EXPECT_TRUE(wire.contains("\xff\xfa\x2c\x02\x07\xff\xf0")) << "SET-DATASIZE 7";
    EXPECT_TRUE(wire.contains("\xff\xfa\x2c\x03\x03\xff\xf0")) << "SET-PARITY even";
    EXPECT_TRUE(wire.contains("\xff\xfa\x2c\x04\x02\xff\xf0")) << "SET-STOPSIZE 2";
    EXPECT_TRUE(wire.contains(QByteArray("\xff\xfa\x2c\x01\x00\x00\xe1\x00\xff\xf0", 10)));
    // The data as the server decodes it: every byte, 0xFF doubled on the wire and nothing added.
    serial::telnet::Client decoder;
    QByteArray copy = wire;
    copy.truncate(decoder.receive(copy.data(), copy.size()));
    EXPECT_EQ(copy, bytes);
}

TEST_F(NetworkCli, ARawTcpPortCarriesTheBytesAndSaysOnceThatNoLineIsSet) {
    Ser2net server(Ser2net::Protocol::RawTcp);
    startServer(server);
    const QByteArray bytes = everyByteValue(4096);
    writeFile(path("bytes.bin"), bytes);
    start({"send", server.portName(), path("bytes.bin"), "--delay", "-1", "--baud", "115200"});
    EXPECT_EQ(server.device().read(int(bytes.size()), 20000), bytes);
    ASSERT_EQ(finish(), 0) << m_err.constData();
    EXPECT_EQ(m_err.count("line settings are not sent"), 1) << m_err.constData();
}

TEST_F(NetworkCli, APortThatRefusesOrDoesNotAnswerFailsWithItsReason) {
    const SilentAddress silent;
    const struct {
        QString name;
        QByteArray reason;
    } cases[] = {
        {QStringLiteral("tcp://127.0.0.1:%1").arg(freeTcpPort()), "Connection refused"},
        {QStringLiteral("rfc2217://127.0.0.1:%1").arg(silent.port()), "Connection timed out"},
    };
    for (const auto &c : cases) {
        QElapsedTimer timer;
        timer.start();
        ASSERT_EQ(run({"capture", c.name, "--dir", m_dir.path()}), 1) << c.name.toStdString();
        EXPECT_LT(timer.elapsed(), 15000) << "bounded by the 5 s of the connect";
        EXPECT_EQ(m_err.toStdString(),
                  ("kalvosan-cli: Could not open port " + c.name.toUtf8() + ": " + c.reason + "\n")
                      .toStdString());
        EXPECT_FALSE(QFileInfo::exists(path("data000000.bin")));
    }

    // A name no server can have is a mistake in the command, named and cut short.
    // (127.1 is the resolver's short form of 127.0.0.1.)
    for (const QString &bad : {QStringLiteral("tcp://127.1:1"), QStringLiteral("tcp://[::1"),
                               "tcp://" + QString(100000, u'h') + ":1"}) {
        ASSERT_EQ(run({"capture", bad, "--dir", m_dir.path()}), 2) << bad.left(40).toStdString();
        EXPECT_TRUE(m_err.startsWith("kalvosan-cli: Bad port ")) << m_err.left(200).constData();
        EXPECT_LT(m_err.indexOf('\n'), 400) << m_err.left(200).constData();
    }

    // Ctrl-C ends a connect that waits for an answer at once, not after its 5 s.
    writeFile(path("x.bin"), "x");
    for (const QStringList &arguments :
         {QStringList{"capture", cases[1].name, "--dir", m_dir.path()},
          QStringList{"send", cases[1].name, path("x.bin")}}) {
        start(arguments);
        QThread::msleep(500);
        QElapsedTimer timer;
        timer.start();
        ::kill(pid_t(m_process.processId()), SIGINT);
        finish();
        EXPECT_LT(timer.elapsed(), 2000) << arguments.join(' ').toStdString();
        EXPECT_EQ(m_process.exitStatus(), QProcess::NormalExit);
    }
    EXPECT_FALSE(QFileInfo::exists(path("data000000.bin")));
}

// A server that hangs up at the open is a failed open, for a capture waiting for its port as
// for a send; one that closed without taking a send's bytes fails the send, with the reason.
TEST_F(NetworkCli, AServerThatHangsUpIsAFailedOpenOrAFailedWrite) {
    writeFile(path("x.bin"), "hello");
    for (const auto protocol : {Ser2net::Protocol::Rfc2217, Ser2net::Protocol::RawTcp}) {
        Ser2net missing(protocol, path("no-such-device"));
        startServer(missing);
        ASSERT_EQ(run({"send", missing.portName(), path("x.bin")}), 1);
        EXPECT_TRUE(m_err.startsWith("kalvosan-cli: Could not open port " +
                                     missing.portName().toUtf8() +
                                     ": the server closed the connection (Device open failure"))
            << m_err.constData();
        EXPECT_FALSE(m_err.contains("warning")) << m_err.constData();
    }
    Ser2net missing(Ser2net::Protocol::Rfc2217, path("no-such-device"));
    startServer(missing);
    start({"capture", missing.portName(), "--dir", m_dir.path(), "--wait", "--times"});
    QThread::msleep(3000);
    m_process.terminate();
    ASSERT_EQ(finish(), 0) << m_err.constData();
    EXPECT_EQ(m_err.count("Waiting for"), 1) << m_err.constData();
    EXPECT_FALSE(m_err.contains("is back")) << m_err.constData();
    EXPECT_FALSE(QFileInfo::exists(path("data000000.bin.times")));

    // Waits until the send's bytes are there, never reads them, and closes 0.3 s later: the
    // bytes it never took reset the connection.
    FakeServer unread([](int socket, const std::atomic<bool> &running) {
        pollfd p{socket, POLLIN, 0};
        while (running && ::poll(&p, 1, 50) == 0) {
        }
        QThread::msleep(300);
    });
    const QString name = QStringLiteral("tcp://127.0.0.1:%1").arg(unread.port());
    ASSERT_EQ(run({"send", name, path("x.bin"), "-q"}), 1) << m_err.constData();
    EXPECT_EQ(m_err.toStdString(), ("kalvosan-cli: Could not write port " + name.toUtf8() +
                                    ": Connection reset by peer (5 of 5 bytes sent)\n")
                                       .toStdString());

    // Takes a megabyte of a 20 MB send and dies.
    FakeServer dying([&](int socket, const std::atomic<bool> &running) {
        qint64 got = 0;
        char buffer[65536];
        while (running && got < (1 << 20)) {
            pollfd p{socket, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0)
                got += std::max<ssize_t>(0, ::recv(socket, buffer, sizeof buffer, 0));
        }
    });
    writeFile(path("big.bin"), QByteArray(20 << 20, 'b'));
    const QString dyingName = QStringLiteral("tcp://127.0.0.1:%1").arg(dying.port());
    ASSERT_EQ(run({"send", dyingName, path("big.bin"), "-q"}), 1);
    const QRegularExpression failure(
        "^kalvosan-cli: Could not write port " + QRegularExpression::escape(dyingName) +
        ": (Connection reset by peer|Broken pipe) \\(\\d+ of 20971520 bytes sent\\)\n$");
    EXPECT_TRUE(failure.match(QString::fromUtf8(m_err)).hasMatch()) << m_err.constData();
}

// Records what the client sends and answers nothing: a raw port that speaks no Telnet. Ends
// when the client closes.
void silentServer(int socket, FakeServer &server, const std::atomic<bool> &running) {
    while (running && FakeServer::drain(socket, server, 20)) {
    }
}

// The data of what a client sent, as a server decodes it.
QByteArray telnetData(QByteArray wire) {
    serial::telnet::Client decoder;
    wire.truncate(decoder.receive(wire.data(), wire.size()));
    return wire;
}

TEST_F(NetworkCli, AServerThatNeverAnswersTheSettingsIsSaidAndCtrlCStopsBeforeTheSend) {
    FakeServer *self = nullptr;
    FakeServer server([&](int socket, const std::atomic<bool> &running) {
        silentServer(socket, *self, running);
    });
    self = &server;
    const QString name = QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.port());
    const QByteArray dtrOn("\xff\xfa\x2c\x05\x08\xff\xf0", 7);
    const QByteArray dtrOff("\xff\xfa\x2c\x05\x09\xff\xf0", 7);
    writeFile(path("x.bin"), "0123456789");

    ASSERT_EQ(run({"send", name, path("x.bin")}), 0) << m_err.constData();
    EXPECT_EQ(m_err.count("kalvosan-cli: warning: the server did not answer the Com Port option: "
                          "the line settings are not confirmed\n"),
              1)
        << m_err.constData();
    QByteArray wire = server.received();
    EXPECT_EQ(telnetData(wire), "0123456789");
    // DTR drops once the server has the tail, not in the tail's segment.
    EXPECT_FALSE(wire.mid(wire.lastIndexOf("9")).contains(dtrOff));

    // Ctrl-C while the open waits for the answers: nothing is sent.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const qsizetype before = server.received().size();
        start({"send", name, path("x.bin")});
        QThread::msleep(400);
        ::kill(pid_t(m_process.processId()), SIGINT);
        EXPECT_EQ(finish(), 1) << m_err.constData();
        EXPECT_EQ(m_err,
                  "kalvosan-cli: Could not open port " + name.toUtf8() + ": Operation canceled\n");
        QThread::msleep(100);
        EXPECT_EQ(telnetData(server.received().mid(before)), "") << attempt;
    }

    // Ctrl-C during a pulse: DTR stays low, without a second pulse.
    const qsizetype before = server.received().size();
    start({"send", name, path("x.bin"), "--pulse", "dtr:10000"});
    QThread::msleep(2000);
    ::kill(pid_t(m_process.processId()), SIGINT);
    EXPECT_EQ(finish(), 1) << m_err.constData();
    QThread::msleep(100);
    wire = server.received().mid(before);
    const qsizetype pulse = wire.indexOf(dtrOff);
    ASSERT_GE(pulse, 0);
    EXPECT_FALSE(wire.mid(pulse).contains(dtrOn));
    EXPECT_EQ(telnetData(wire), "");
}

// What a hostile server sends once the capture has synced: 0xFF cut between two sends, a flood
// of option traffic (whose answers it never reads), a ping-pong of new options, then a
// subnegotiation that never ends.
void hostileServer(int socket, const std::atomic<bool> &running, const std::atomic<bool> &synced,
                   std::atomic<bool> &done) {
    const auto sendAll = [&](const QByteArray &bytes) {
        for (qsizetype at = 0; at < bytes.size() && running;) {
            const ssize_t n = ::send(socket, bytes.constData() + at, size_t(bytes.size() - at),
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0)
                at += n;
            else {
                pollfd p{socket, POLLOUT, 0};
                ::poll(&p, 1, 50);
            }
        }
    };
    while (running && !synced) {
        sendAll(QByteArray(1, kSync));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    sendAll("start|\xff");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sendAll("\xff|");
    QByteArray flood;
    for (int i = 0; i < 400000; ++i)
        flood += QByteArray::fromRawData(i % 3 ? "\xff\xfd\x63" : "\xff\xfb\x05", 3);
    for (int round = 0; round < 16; ++round)
        sendAll(flood);
    char buffer[65536];
    for (int option = 100; option < 600 && running; ++option) {
        const char request[] = {char(kIac), char(0xFD), char(option % 256)};
        sendAll(QByteArray(request, 3));
        pollfd p{socket, POLLIN, 0};
        if (::poll(&p, 1, 10) > 0)
            while (::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
            }
    }
    sendAll("middle|");
    sendAll("\xff\xfa\x2c\x65");
    const QByteArray endless(1 << 20, 'x');
    for (int i = 0; i < 48 && running; ++i)
        sendAll(endless);
    done = true;
    while (running)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

TEST_F(NetworkCli, AHostileServerNeitherHangsTheCaptureNorGrowsItsMemory) {
    std::atomic<bool> synced{false};
    std::atomic<bool> done{false};
    FakeServer server([&](int socket, const std::atomic<bool> &running) {
        hostileServer(socket, running, synced, done);
    });
    const QString capture = path("data000000.bin");
    start({"capture", QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.port()), "--dir",
           m_dir.path()});
    ASSERT_TRUE(waitUntil([&] { return QFileInfo(capture).size() > 0; }, 10000));
    const long before = residentKb(m_process.processId());
    synced = true;
    long most = before;
    ASSERT_TRUE(waitUntil(
        [&] {
            most = std::max(most, residentKb(m_process.processId()));
            return done.load();
        },
        120000));
    EXPECT_LT(most - before, 24 * 1024) << "kB grown while 60 MB of option traffic came";
    m_process.terminate();
    ASSERT_EQ(finish(5000), 0) << m_err.constData();
    EXPECT_EQ(afterSync(readFile(capture)), "start|\xff|middle|");
}

} // namespace
