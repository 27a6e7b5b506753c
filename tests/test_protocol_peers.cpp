// kalvosan-cli send --protocol and receive against lrzsz's sx/sb/sz and rx/rb/rz at the far end
// of a pty: every protocol both ways, lossy lines, cancels from either side, a receiver that
// never starts, hostile YMODEM names, and a send through ser2net.
#include "protocols/transfer_session.h"
#include "protocols/xmodem_sender.h"
#include "tests/test_cli_support.h"
#include "tests/test_lrzsz_peer.h"
#include "tests/test_network_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

namespace {

using namespace testsupport;

class ProtocolPeers : public CliProcessTest {
protected:
    void SetUp() override {
        CliProcessTest::SetUp();
        ASSERT_TRUE(m_peerDir.isValid() && m_sendDir.isValid());
    }
    // A file of `size` bytes in the folder files are sent from.
    QString sendFile(const QString &name, const QByteArray &bytes) {
        const QString file = m_sendDir.filePath(name);
        writeFile(file, bytes);
        return file;
    }
    QStringList line() const { return {"--baud", "115200"}; }
    QString peerFile(const QString &name) const { return m_peerDir.filePath(name); }
    QStringList received() const {
        return QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    bool errContains(const QByteArray &text) {
        m_err += m_process.readAllStandardError();
        return m_err.contains(text);
    }

    QTemporaryDir m_peerDir; // the peer's folder: what it sends, what it received
    QTemporaryDir m_sendDir;
};

struct Sized {
    QString name;
    QByteArray bytes;
};

std::vector<Sized> everySize() {
    std::vector<Sized> files;
    for (qsizetype size : {0, 1, 127, 128, 129, 1023, 1024, 1025})
        files.push_back({QStringLiteral("s%1.bin").arg(size), randomPayload(size, quint32(size))});
    files.push_back({QStringLiteral("every.bin"), everyByteValue(1 << 20)});
    return files;
}

// XMODEM gives back the file and the padding of its last block.
void expectPadded(const QByteArray &got, const QByteArray &sent, int block) {
    EXPECT_EQ(got.left(sent.size()), sent);
    EXPECT_EQ(got.mid(sent.size()), QByteArray(got.size() - sent.size(), '\x1A'));
    EXPECT_LT(got.size() - sent.size(), sent.isEmpty() ? 1 : block);
}

TEST_F(ProtocolPeers, XmodemBothWaysEverySize) {
    for (const auto &[protocol, option] :
         {std::pair{"xmodem", "-b"}, std::pair{"xmodem-1k", "-k"}}) {
        for (const Sized &file : everySize()) {
            SCOPED_TRACE(std::string(protocol) + " " + file.name.toStdString());
            const QString source = sendFile(file.name, file.bytes);
            // Ours to rx (CRC asked for with -c); 128 bytes of padding at most either way.
            {
                LrzszPeer rx(m_pty.master(), {"rx", "-b", "-c", file.name}, m_peerDir.path());
                start(QStringList{"send", m_pty.slavePath(), source, "--protocol", protocol} +
                      line());
                ASSERT_EQ(finish(), 0) << m_err.toStdString();
                EXPECT_EQ(rx.wait(), 0);
            }
            expectPadded(readFile(peerFile(file.name)), file.bytes, 128);
            EXPECT_TRUE(m_err.contains("Transfer complete: " + file.name.toUtf8()));
            // sx to ours (-k: blocks of 1024).
            LrzszPeer sx(m_pty.master(), {"sx", "-b", QString::fromLatin1(option), source},
                         m_peerDir.path());
            start(QStringList{"receive", m_pty.slavePath(), "--protocol", "xmodem", "--dir",
                              m_dir.path(), "--name", file.name} +
                  line());
            ASSERT_EQ(finish(), 0) << m_err.toStdString();
            EXPECT_EQ(sx.wait(), 0);
            expectPadded(readFile(path(file.name)), file.bytes,
                         QLatin1String(option) == "-k" ? 1024 : 128);
            EXPECT_TRUE(m_err.contains("the padding of its last block")) << m_err.toStdString();
        }
    }
}

TEST_F(ProtocolPeers, YmodemAndZmodemBatchesBothWays) {
    const std::vector<Sized> files = everySize();
    QStringList sources;
    for (const Sized &file : files)
        sources << sendFile(file.name, file.bytes);
    for (const auto &[protocol, sender, receiver] :
         {std::tuple{"ymodem", "sb", "rb"}, std::tuple{"zmodem", "sz", "rz"}}) {
        SCOPED_TRACE(protocol);
        {
            // One peer at a time on the pty's master.
            LrzszPeer in(m_pty.master(), {receiver, "-b"}, m_peerDir.path());
            start(QStringList{"send", m_pty.slavePath()} + sources +
                  QStringList{"--protocol", protocol} + line());
            ASSERT_EQ(finish(), 0) << m_err.toStdString();
            EXPECT_EQ(in.wait(), 0);
        }
        LrzszPeer out(m_pty.master(), QStringList{sender, "-b"} + sources, m_peerDir.path());
        start(QStringList{"receive", m_pty.slavePath(), "--protocol", protocol, "--dir",
                          m_dir.path()} +
              line());
        ASSERT_EQ(finish(), 0) << m_err.toStdString();
        EXPECT_EQ(out.wait(), 0);
        for (const Sized &file : files) {
            SCOPED_TRACE(file.name.toStdString());
            EXPECT_EQ(readFile(peerFile(file.name)), file.bytes);
            EXPECT_EQ(readFile(path(file.name)), file.bytes);
            // The end line names every file and its size.
            EXPECT_TRUE(m_err.contains(
                QStringLiteral("%1, %2 bytes").arg(file.name).arg(file.bytes.size()).toUtf8()));
            QFile::remove(peerFile(file.name));
            QFile::remove(path(file.name));
        }
    }
}

TEST_F(ProtocolPeers, ALossyLineCompletesAndAFarWorseOneFailsWithoutACompleteFile) {
    const QByteArray bytes = randomPayload(200000, 5);
    const QString source = sendFile("lossy.bin", bytes);
    {
        // About one block of 1024 in twelve is hit.
        LrzszPeer lossy(m_pty.master(), {"sb", "-b", source}, m_peerDir.path(), {20000, 30000, 3});
        start(QStringList{"receive", m_pty.slavePath(), "--protocol", "ymodem", "--dir",
                          m_dir.path()} +
              line());
        ASSERT_EQ(finish(120000), 0) << m_err.toStdString();
        EXPECT_EQ(readFile(path("lossy.bin")), bytes);
        QFile::remove(path("lossy.bin"));
    }
    {
        // Ours with a block wait of 2 s, so that the retries run out soon.
        LrzszPeer worse(m_pty.master(), {"rb", "-b"}, m_peerDir.path(), {500, 500, 4});
        TransferSession session;
        std::optional<protocols::TransferResult> result;
        QObject::connect(&session, &TransferSession::finished,
                         [&](const protocols::TransferResult &end) { result = end; });
        protocols::TransferOptions options;
        options.port.portName = m_pty.slavePath();
        options.port.line.baud = 115200;
        options.protocol = protocols::Protocol::Ymodem;
        options.files = QStringList{source};
        options.timing.blockWait = std::chrono::milliseconds(2000);
        ASSERT_EQ(session.start(options), QString());
        ASSERT_TRUE(waitUntil([&] { return result.has_value(); }, 200000));
        EXPECT_FALSE(result->complete);
        EXPECT_TRUE(result->reason.startsWith("Too many errors in block") ||
                    result->reason == "The receiver cancelled")
            << result->reason.toStdString();
        EXPECT_NE(worse.wait(), 0);
    }
}

TEST_F(ProtocolPeers, CancelsFromEitherSideAndAReceiverThatNeverStarts) {
    const QByteArray bytes = randomPayload(4 << 20, 6);
    const QString source = sendFile("big.bin", bytes);
    // The other side cancels: rb is interrupted mid-file.
    {
        LrzszPeer rb(m_pty.master(), {"rb", "-b"}, m_peerDir.path(), {0, 0, 1, 4096});
        start(QStringList{"send", m_pty.slavePath(), source, "--protocol", "ymodem"} + line());
        ASSERT_TRUE(waitUntil([&] { return QFileInfo(peerFile("big.bin")).size() > 8192; }));
        rb.signal(SIGINT);
        EXPECT_EQ(finish(), 1);
        EXPECT_TRUE(m_err.contains("The receiver cancelled")) << m_err.toStdString();
    }
    // Ctrl-C on ours: the far side's sb ends cancelled.
    {
        LrzszPeer sb(m_pty.master(), {"sb", "-b", source}, m_peerDir.path(), {0, 0, 1, 4096});
        start(QStringList{"receive", m_pty.slavePath(), "--protocol", "ymodem", "--dir",
                          m_dir.path()} +
              line());
        ASSERT_TRUE(waitUntil([&] { return QFileInfo(path("big.bin.part")).size() > 8192; }));
        ::kill(m_process.processId(), SIGINT);
        EXPECT_EQ(finish(), 1);
        EXPECT_TRUE(m_err.contains("Transfer aborted")) << m_err.toStdString();
        EXPECT_NE(sb.wait(), 0);
        EXPECT_TRUE(m_err.contains("big.bin.part holds the")) << m_err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(path("big.bin")));
    }
    // Ctrl-C on a ZMODEM send: sz is ended with it, and rz sees the cancel.
    QFile::remove(peerFile("big.bin"));
    {
        LrzszPeer rz(m_pty.master(), {"rz", "-b"}, m_peerDir.path(), {0, 0, 1, 4096});
        start(QStringList{"send", m_pty.slavePath(), source, "--protocol", "zmodem"} + line());
        ASSERT_TRUE(waitUntil([&] { return QFileInfo(peerFile("big.bin")).size() > 8192; }));
        ::kill(m_process.processId(), SIGINT);
        EXPECT_EQ(finish(), 1) << m_err.toStdString();
        EXPECT_NE(rz.wait(), 0);
        EXPECT_TRUE(m_err.contains("Transfer aborted")) << m_err.toStdString();
    }
    // Nobody at the other end: the bounded wait.
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(run(QStringList{"send", m_pty.slavePath(), source, "--protocol", "xmodem",
                              "--start-timeout", "1"} +
                  line()),
              1);
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_TRUE(m_err.contains("No answer from the receiver")) << m_err.toStdString();
}

// A YMODEM sender of the test's own plays the device, with the names a hostile one would send.
TEST_F(ProtocolPeers, HostileYmodemNamesLandOnlyInTheDropDirectory) {
    const QList<QByteArray> names{"../../x", "/etc/passwd", "two\nlines", "x"};
    std::vector<protocols::SendFile> files;
    for (const QByteArray &name : names)
        files.push_back({name, 10, 0});
    writeFile(path("x"), "was here");
    protocols::XmodemSender sender(protocols::Protocol::Ymodem, files,
                                   [](int file, qint64, char *into, qint64 size) {
                                       std::memset(into, 'a' + file, std::size_t(size));
                                       return size;
                                   });
    start(QStringList{"receive", m_pty.slavePath(), "--protocol", "ymodem", "--dir", m_dir.path()} +
          line());
    sender.start(protocols::Clock::now());
    QElapsedTimer clock;
    clock.start();
    while (!sender.ended() && clock.elapsed() < 20000) {
        if (const QByteArray out = sender.takeOutput(); !out.isEmpty())
            m_pty.write(out);
        const QByteArray in = m_pty.read(1, 50);
        sender.feed(in.constData(), in.size(), protocols::Clock::now());
        if (sender.deadline() && protocols::Clock::now() >= *sender.deadline())
            sender.tick(protocols::Clock::now());
    }
    m_pty.write(sender.takeOutput());
    ASSERT_EQ(finish(), 0) << m_err.toStdString();
    EXPECT_EQ(received(), (QStringList{"passwd", "two_lines", "x", "x-1", "x-2"}));
    EXPECT_EQ(readFile(path("x")), "was here");
    EXPECT_EQ(readFile(path("x-1")), "aaaaaaaaaa");
    EXPECT_EQ(readFile(path("x-2")), "dddddddddd");
    EXPECT_TRUE(m_err.contains("The name \"../../x\" was made a plain file name: x-1") ||
                m_err.contains("The name \"../../x\" was made a plain file name: x"))
        << m_err.toStdString();
    EXPECT_TRUE(m_err.contains("The name \"two\\nlines\" was made a plain file name"));
    EXPECT_FALSE(QFileInfo::exists(QDir(m_dir.path()).absoluteFilePath("../x")));
}

TEST_F(ProtocolPeers, YmodemThroughSer2netAndZmodemWithoutLrzsz) {
    Ser2net server;
    ASSERT_TRUE(server.start()) << server.failure().toStdString();
    const QByteArray bytes = randomPayload(200000, 8);
    const QString source = sendFile("net.bin", bytes);
    LrzszPeer rb(server.device().master(), {"rb", "-b"}, m_peerDir.path());
    start(QStringList{"send", server.portName(), source, "--protocol", "ymodem"} + line());
    ASSERT_EQ(finish(), 0) << m_err.toStdString();
    EXPECT_EQ(rb.wait(), 0);
    EXPECT_EQ(readFile(peerFile("net.bin")), bytes);

    QProcessEnvironment environment = m_process.processEnvironment();
    environment.insert("PATH", m_sendDir.path());
    m_process.setProcessEnvironment(environment);
    EXPECT_EQ(run(QStringList{"send", m_pty.slavePath(), source, "--protocol", "zmodem"}), 1);
    EXPECT_TRUE(m_err.contains("ZMODEM needs lrzsz (sz, rz)")) << m_err.toStdString();
}

} // namespace
