// The capture and send sessions on their own, as the command line owns them: no window, a pty
// as the device.
#include "capture/capture_naming.h"
#include "capture/capture_session.h"
#include "tests/test_cli_support.h"
#include "transmit/send_session.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>
#include <thread>
#include <utility>

namespace {

using namespace testsupport;

serial::PortConfig ptyPort(const Pty &pty, serial::PortProfile profile) {
    serial::PortConfig config;
    config.portName = pty.slavePath();
    config.line.baud = 115200; // no write time-out
    config.profile = profile;
    return config;
}

// A send session whose end the test can wait for.
struct Send {
    Send() {
        QObject::connect(&session, &SendSession::finished, &session,
                         [this](const transmit::SendResult &r) { result = r; });
        QObject::connect(&session, &SendSession::progress, &session,
                         [this](qint64 sent, qint64) { progress = sent; });
    }
    QString start(const Pty &pty, const QString &path, double delayMs) {
        transmit::SendOptions options;
        options.port = ptyPort(pty, serial::PortProfile::Send);
        options.delayMs = delayMs;
        return session.start(path, options);
    }
    bool ended(int timeoutMs = 20000) {
        return waitUntil([&] { return result.has_value(); }, timeoutMs);
    }
    SendSession session;
    std::optional<transmit::SendResult> result;
    qint64 progress = 0;
};

TEST(CoreSessions, ACaptureWritesTheHeaderAndWhatTheDeviceSendsAfterItsStart) {
    Pty pty;
    QTemporaryDir dir;
    const QString path = capturePath(dir.path(), QStringLiteral("abc.vmf"));
    // Queued before the start: dropped, neither written nor counted.
    pty.write("STALE");
    CaptureSession session;
    ASSERT_EQ(session.start({ptyPort(pty, serial::PortProfile::Capture), path,
                             captureHeader(QStringLiteral("abc.vmf"))}),
              QString());
    ASSERT_TRUE(syncCapture(pty, path, 2));
    const QByteArray payload = randomPayload(300 * 1024);
    pty.write(payload);
    ASSERT_TRUE(waitUntil([&] { return session.count() > payload.size(); }, 20000));
    session.stop();
    const QByteArray file = readFile(path);
    EXPECT_EQ(file.left(2), "ab");
    EXPECT_EQ(afterSync(file.mid(2)), payload);
    EXPECT_EQ(session.count(), file.size() - 2);
}

TEST(CoreSessions, ACaptureIntoAFullDeviceReportsTheFailedWrite) {
    Pty pty;
    CaptureSession session;
    QString failed;
    QObject::connect(&session, &CaptureSession::writeFailed, &session,
                     [&](const QString &path) { failed = path; });
    ASSERT_EQ(session.start({ptyPort(pty, serial::PortProfile::Capture), "/dev/full", {}}),
              QString());
    for (int attempt = 0; attempt < 50 && failed.isEmpty(); ++attempt) {
        pty.write("x");
        waitUntil([&] { return !failed.isEmpty(); }, 200);
    }
    EXPECT_EQ(failed, "/dev/full");
    EXPECT_EQ(session.count(), 0);
}

TEST(CoreSessions, ASendSendsTheFileWholeAndEndsDoneWithTheCount) {
    Pty pty;
    QTemporaryDir dir;
    const QByteArray payload = randomPayload(200 * 1024);
    writeFile(dir.filePath("send.bin"), payload);
    Send send;
    ASSERT_EQ(send.start(pty, dir.filePath("send.bin"), transmit::kWholeChunks), QString());
    EXPECT_EQ(pty.read(int(payload.size()), 20000), payload);
    ASSERT_TRUE(send.ended());
    EXPECT_EQ(send.result->end, transmit::SendEnd::Done);
    EXPECT_EQ(send.result->sent, payload.size());
    EXPECT_EQ(send.result->length, payload.size());
}

TEST(CoreSessions, ASendWhoseDeviceHangsUpEndsWriteFailedWithWhatWentOut) {
    Pty pty;
    QTemporaryDir dir;
    const qint64 size = 4 * 1024 * 1024;
    writeFile(dir.filePath("big.bin"), QByteArray(size, 'b'));
    Send send;
    ASSERT_EQ(send.start(pty, dir.filePath("big.bin"), transmit::kWholeChunks), QString());
    // The device reads nothing: once the pty is full the count stands still.
    qint64 seen = -1;
    for (int round = 0; round < 60 && (seen <= 0 || send.progress != seen); ++round) {
        seen = send.progress;
        waitUntil([] { return false; }, 300);
    }
    ASSERT_GT(seen, 0);
    ASSERT_EQ(send.progress, seen) << "the pty never filled";
    pty.closeMaster();
    ASSERT_TRUE(send.ended());
    EXPECT_EQ(send.result->end, transmit::SendEnd::WriteFailed);
    EXPECT_EQ(send.result->portName, pty.slavePath());
    // Whole chunks as reported, and what the pty took of the chunk that failed.
    EXPECT_GE(send.result->sent, seen);
    EXPECT_LT(send.result->sent, seen + transmit::kChunkSize);
}

TEST(CoreSessions, AbortEndsAPerByteSendAtOnceWithTheBytesThatWentOut) {
    Pty pty;
    QTemporaryDir dir;
    writeFile(dir.filePath("slow.bin"), QByteArray(1000, 's'));
    Send send;
    // 50 ms after each byte: the whole file would take 50 s.
    ASSERT_EQ(send.start(pty, dir.filePath("slow.bin"), 50), QString());
    QByteArray received = pty.read(3);
    ASSERT_GE(received.size(), 3);
    send.session.abort();
    // A bound against a hang only (the rest of the file would take 50 s): the worker looks
    // at its flag within one write and during its pause.
    ASSERT_TRUE(send.ended(5000));
    EXPECT_EQ(send.result->end, transmit::SendEnd::Aborted);
    received += pty.read(int(send.result->sent - received.size()), 1000);
    EXPECT_EQ(send.result->sent, received.size());
    EXPECT_LT(send.result->sent, 1000);
}

// A UART whose driver queues what it is given and sends none of it: Abort drops the queue.
class QueueingPort final : public serial::Port {
public:
    static constexpr qint64 kQueueSize = 3 * transmit::kChunkSize;
    bool isOpen() const override { return true; }
    void close() override {}
    QStringList configure(const serial::LineSettings &) override { return {}; }
    bool purge() override { return true; }
    qint64 dropOutput() override { return std::exchange(m_queued, 0); }
    bool setDtr(bool) override { return true; }
    bool setRts(bool) override { return true; }
    bool enableRs485() override { return false; }
    bool setBreak(bool) override { return false; }
    qint64 read(char *, qint64) override { return 0; }
    serial::Readiness waitReadable(int, platform::WakeSet *) override {
        return serial::Readiness::TimedOut;
    }
    // Takes bytes until the queue is full, then waits for the run flag.
    serial::WriteResult write(const char *, qint64 size, std::optional<std::chrono::milliseconds>,
                              const std::atomic<bool> &running) override {
        const qint64 taken = std::min(size, kQueueSize - m_queued);
        m_queued += taken;
        while (taken < size && running)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return {taken == size ? serial::WriteStatus::Complete : serial::WriteStatus::Stopped,
                taken};
    }
    serial::Completion completion() const override { return serial::Completion::OnTheLine; }

private:
    qint64 m_queued = 0;
};

TEST(CoreSessions, AnAbortedSendDoesNotCountWhatTheDriverDropped) {
    Send send;
    send.session.setBytes(QByteArray(10 * transmit::kChunkSize, 'q'));
    transmit::SendOptions options;
    ASSERT_TRUE(send.session.start(std::make_unique<QueueingPort>(), options));
    ASSERT_TRUE(waitUntil([&] { return send.progress == QueueingPort::kQueueSize; }));
    send.session.abort();
    ASSERT_TRUE(send.ended());
    EXPECT_EQ(send.result->end, transmit::SendEnd::Aborted);
    EXPECT_EQ(send.result->sent, 0);
    EXPECT_EQ(send.progress, 0) << "the last count shown";
}

} // namespace
