// The protocol machines without threads or a port: a sender and a receiver on a simulated
// line with a simulated clock, and hand-made streams for what a real peer seldom does.
#include "platform/child_process.h"
#include "protocols/lrzsz_transfer.h"
#include "protocols/xmodem_block.h"
#include "protocols/xmodem_receiver.h"
#include "protocols/xmodem_sender.h"
#include "protocols/ymodem_header.h"
#include "protocols/zmodem_start.h"

#include <QList>
#include <QRandomGenerator>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

using namespace protocols;
using namespace std::chrono_literals;

namespace {

QByteArray payload(qsizetype size, quint32 seed = 7) {
    QByteArray bytes(size, 0);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + seed) & 0xFF);
    return bytes;
}

struct Outcome {
    QList<QByteArray> files; // what the receiver gave, per file begun
    QList<QByteArray> names; // as sent in block 0
    QList<qint64> mtimes;
    int filesEnded = 0; // files the receiver called complete
    QString senderEnd;
    QString receiverEnd;
    QByteArray senderOutput; // everything the sender wrote
    int retries = 0;
};

void collect(TransferMachine &machine, Outcome &outcome, bool receiver) {
    for (const Event &event : machine.takeEvents()) {
        if (receiver && event.kind == Event::Kind::FileBegun) {
            outcome.files.append(QByteArray());
            outcome.names.append(event.name);
            outcome.mtimes.append(event.mtime);
        } else if (event.kind == Event::Kind::Data) {
            if (outcome.files.isEmpty())
                outcome.files.append(QByteArray());
            outcome.files.last() += event.data;
        } else if (receiver && event.kind == Event::Kind::FileEnded) {
            ++outcome.filesEnded;
        } else if (event.kind == Event::Kind::Done || event.kind == Event::Kind::Failed) {
            (receiver ? outcome.receiverEnd : outcome.senderEnd) =
                event.kind == Event::Kind::Done ? kComplete : event.reason;
        }
    }
}

// The line between the two: `damage` may change what goes either way.
using Damage = std::function<void(QByteArray &bytes)>;

Outcome run(Protocol protocol, const QList<QByteArray> &contents, const Damage &damage = {}) {
    std::vector<SendFile> files;
    for (qsizetype i = 0; i < contents.size(); ++i)
        files.push_back({"file" + QByteArray::number(i) + ".bin", contents[i].size(), 1700000000});
    XmodemSender sender(protocol, files, [&](int file, qint64 offset, char *into, qint64 size) {
        std::memcpy(into, contents[file].constData() + offset, std::size_t(size));
        return size;
    });
    XmodemReceiver receiver(protocol == Protocol::Ymodem ? Protocol::Ymodem : Protocol::Xmodem);
    Outcome outcome;
    TimePoint now{};
    sender.start(now);
    receiver.start(now);
    // Simulated hours, in steps of 10 ms: the bounds of the protocols end every transfer.
    for (int step = 0; step < 360000 && !(sender.ended() && receiver.ended()); ++step) {
        QByteArray toReceiver = sender.takeOutput();
        QByteArray toSender = receiver.takeOutput();
        outcome.senderOutput += toReceiver;
        if (damage) {
            damage(toReceiver);
            damage(toSender);
        }
        receiver.feed(toReceiver.constData(), toReceiver.size(), now);
        sender.feed(toSender.constData(), toSender.size(), now);
        now += 10ms;
        for (TransferMachine *machine :
             {static_cast<TransferMachine *>(&sender), static_cast<TransferMachine *>(&receiver)}) {
            if (machine->deadline() && now >= *machine->deadline())
                machine->tick(now);
        }
        collect(sender, outcome, false);
        collect(receiver, outcome, true);
    }
    outcome.retries = sender.progress().retries + receiver.progress().retries;
    return outcome;
}

// Drops one byte in `dropEvery` and flips a bit in one in `flipEvery`, from a fixed seed.
Damage noisyLine(quint32 dropEvery, quint32 flipEvery, quint32 seed = 99) {
    auto rng = std::make_shared<QRandomGenerator>(seed);
    return [=](QByteArray &bytes) {
        QByteArray kept;
        for (char c : bytes) {
            if (rng->bounded(dropEvery) == 0)
                continue;
            if (rng->bounded(flipEvery) == 0)
                c = char(c ^ (1 << rng->bounded(8)));
            kept.append(c);
        }
        bytes = kept;
    };
}

} // namespace

TEST(ProtocolMachines, EveryProtocolCarriesEverySize) {
    const qsizetype sizes[] = {0, 1, 127, 128, 129, 896, 897, 1023, 1024, 1025, 70000};
    for (Protocol protocol : {Protocol::Xmodem, Protocol::Xmodem1k, Protocol::Ymodem}) {
        for (qsizetype size : sizes) {
            SCOPED_TRACE(protocolName(protocol).toStdString() + " " + std::to_string(size));
            const QByteArray sent = payload(size);
            const Outcome outcome = run(protocol, {sent});
            EXPECT_EQ(outcome.senderEnd, kComplete);
            EXPECT_EQ(outcome.receiverEnd, kComplete);
            EXPECT_EQ(outcome.retries, 0);
            const QByteArray got = outcome.files.value(0);
            if (protocol == Protocol::Ymodem) {
                EXPECT_EQ(got, sent);
                continue;
            }
            // XMODEM keeps the padding of the last block, and only that.
            EXPECT_EQ(got.left(size), sent);
            EXPECT_EQ(got.mid(size), QByteArray(got.size() - size, kPadding));
            EXPECT_LT(got.size() - size, 128);
        }
    }
}

TEST(ProtocolMachines, OneKilobyteBlocksFallBackToShortOnesWhereTheyPadLess) {
    // 1025 bytes: one block of 1024 and one of 128; 2000: one of 1024 and one of 1024 (976
    // bytes in blocks of 128 would pad as much); 1100: one of 1024 and one of 128.
    const struct {
        qsizetype size;
        int longBlocks;
        int shortBlocks;
    } cases[] = {{1025, 1, 1}, {2000, 2, 0}, {1100, 1, 1}, {700, 0, 6}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.size);
        const Outcome outcome = run(Protocol::Xmodem1k, {payload(c.size)});
        ASSERT_EQ(outcome.senderEnd, kComplete);
        // Each block is framed once: count the frames by the sender's header bytes at block
        // starts (SOH/STX inside data do not matter for a stream parsed block by block).
        const QByteArray &out = outcome.senderOutput;
        int longBlocks = 0;
        int shortBlocks = 0;
        for (qsizetype at = 0; at < out.size();) {
            if (out[at] == kStx) {
                ++longBlocks;
                at += 3 + 1024 + 2;
            } else if (out[at] == kSoh) {
                ++shortBlocks;
                at += 3 + 128 + 2;
            } else {
                ++at;
            }
        }
        EXPECT_EQ(longBlocks, c.longBlocks);
        EXPECT_EQ(shortBlocks, c.shortBlocks);
    }
}

TEST(ProtocolMachines, YmodemBatchOfThreeFilesWithNamesAndTimes) {
    const QList<QByteArray> files{payload(5000, 1), payload(0, 2), payload(129, 3)};
    const Outcome outcome = run(Protocol::Ymodem, files);
    EXPECT_EQ(outcome.senderEnd, kComplete);
    EXPECT_EQ(outcome.receiverEnd, kComplete);
    ASSERT_EQ(outcome.files.size(), 3);
    EXPECT_EQ(outcome.filesEnded, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(outcome.files[i], files[i]);
        EXPECT_EQ(outcome.names[i], "file" + QByteArray::number(i) + ".bin");
        EXPECT_EQ(outcome.mtimes[i], 1700000000);
    }
}

TEST(ProtocolMachines, ANoisyLineCompletesByRetriesAndAFarWorseOneFailsWithItsReason) {
    const QByteArray sent = payload(200000);
    for (Protocol protocol : {Protocol::Xmodem, Protocol::Ymodem}) {
        SCOPED_TRACE(protocolName(protocol).toStdString());
        const Outcome noisy = run(protocol, {sent}, noisyLine(10000, 15000));
        EXPECT_EQ(noisy.senderEnd, kComplete);
        EXPECT_EQ(noisy.receiverEnd, kComplete);
        EXPECT_GT(noisy.retries, 10);
        EXPECT_EQ(noisy.files.value(0).left(sent.size()), sent);

        const Outcome bad = run(protocol, {sent}, noisyLine(40, 40));
        EXPECT_NE(bad.senderEnd, kComplete);
        EXPECT_NE(bad.receiverEnd, kComplete);
        EXPECT_EQ(bad.filesEnded, 0);
        const QString reasons = bad.senderEnd + u'|' + bad.receiverEnd;
        EXPECT_TRUE(reasons.contains(QStringLiteral("Too many errors in block")) ||
                    reasons.contains(QStringLiteral("No answer")) ||
                    reasons.contains(QStringLiteral("cancelled")))
            << reasons.toStdString();
    }
}

// A receiver fed by hand: what it answers, what it gives out, how it ends.
class ReceiverStream : public ::testing::Test {
protected:
    void feed(const QByteArray &bytes) {
        receiver.feed(bytes.constData(), bytes.size(), now);
        answers += receiver.takeOutput();
        for (const Event &event : receiver.takeEvents()) {
            if (event.kind == Event::Kind::Data)
                data += event.data;
            if (event.kind == Event::Kind::Failed)
                failure = event.reason;
        }
    }
    void waitFor(std::chrono::milliseconds time) {
        const TimePoint until = now + time;
        while (now < until && !receiver.ended()) {
            now = std::min(until, receiver.deadline().value_or(until));
            if (receiver.deadline() && now >= *receiver.deadline())
                receiver.tick(now);
            feed({});
        }
    }
    QByteArray block(std::uint8_t sequence, const QByteArray &bytes) {
        return frameBlock(sequence, bytes.constData(), bytes.size(), Check::Crc16);
    }

    XmodemReceiver receiver{Protocol::Xmodem, Timing{}};
    TimePoint now{};
    QByteArray answers;
    QByteArray data;
    QString failure;
};

TEST_F(ReceiverStream, SkipsGarbageAcksARepeatOnceAndEndsOnABlockOutOfOrder) {
    receiver.start(now);
    feed({});
    EXPECT_EQ(answers, "C");
    answers.clear();
    feed("noise\r\n" + block(1, "one"));
    feed(block(1, "one")); // its ACK was lost
    feed(block(2, "two").left(50));
    feed(block(2, "two").mid(50));
    EXPECT_EQ(answers, QByteArray(3, kAck));
    EXPECT_EQ(data.left(3), "one");
    EXPECT_EQ(data.size(), 256);
    EXPECT_EQ(data.mid(128, 3), "two");
    feed(block(5, "five"));
    EXPECT_EQ(failure, QStringLiteral("Wrong block number in block 3"));
    EXPECT_TRUE(answers.endsWith(cancelSequence()));
    EXPECT_EQ(data.size(), 256);
}

TEST_F(ReceiverStream, ABrokenBlockIsAskedForAgainAndTheFirstEotIsMadeSure) {
    receiver.start(now);
    QByteArray broken = block(1, "one");
    broken[10] = char(broken[10] ^ 0x10);
    feed(broken);
    EXPECT_EQ(answers.right(1), "C"); // the first block is asked for as at the start
    feed(block(1, "one"));
    answers.clear();
    feed(QByteArray(1, kEot));
    EXPECT_EQ(answers, QByteArray(1, kNak));
    feed(QByteArray(1, kEot));
    EXPECT_EQ(answers, QByteArray(1, kNak) + kAck);
    EXPECT_TRUE(receiver.ended());
    EXPECT_TRUE(failure.isEmpty());
}

TEST_F(ReceiverStream, AsksForTheChecksumAfterThreeTriesThenGivesUpAtTheBound) {
    receiver.start(now);
    waitFor(10s);
    EXPECT_EQ(answers.left(3), "CCC");
    EXPECT_EQ(answers.at(3), kNak);
    waitFor(60s);
    EXPECT_EQ(failure, QStringLiteral("No answer from the sender"));
}

TEST_F(ReceiverStream, TwoCansFromTheSenderEndIt) {
    receiver.start(now);
    feed(block(1, "one"));
    feed(QByteArray(1, kCan));
    EXPECT_TRUE(failure.isEmpty());
    feed(QByteArray(1, kCan));
    EXPECT_EQ(failure, QStringLiteral("The sender cancelled"));
}

TEST(ProtocolMachines, SenderEndsOnCancelSilenceAndTooManyErrors) {
    const QByteArray file = payload(300);
    const FileReader read = [&](int, qint64 offset, char *into, qint64 size) {
        std::memcpy(into, file.constData() + offset, std::size_t(size));
        return size;
    };
    const auto failure = [](TransferMachine &machine) {
        for (const Event &event : machine.takeEvents()) {
            if (event.kind == Event::Kind::Failed)
                return event.reason;
        }
        return QString();
    };
    TimePoint now{};
    XmodemSender silent(Protocol::Xmodem, {{"f", 300, 0}}, read);
    silent.start(now);
    silent.tick(now + 60s);
    EXPECT_EQ(failure(silent), QStringLiteral("No answer from the receiver"));

    XmodemSender nagged(Protocol::Xmodem, {{"f", 300, 0}}, read);
    nagged.start(now);
    nagged.feed("C", 1, now);
    nagged.feed("\x06", 1, now);
    for (int i = 0; i < 10; ++i)
        nagged.feed("\x15", 1, now);
    EXPECT_FALSE(nagged.ended());
    nagged.feed("\x15", 1, now);
    EXPECT_EQ(failure(nagged), QStringLiteral("Too many errors in block 2"));
    EXPECT_TRUE(nagged.takeOutput().endsWith(cancelSequence()));

    XmodemSender cancelled(Protocol::Ymodem, {{"f", 300, 0}}, read);
    cancelled.start(now);
    cancelled.feed("C\x18\x18", 3, now);
    EXPECT_EQ(failure(cancelled), QStringLiteral("The receiver cancelled"));
    EXPECT_FALSE(cancelled.takeOutput().contains(cancelSequence()));

    XmodemSender aborted(Protocol::Xmodem1k, {{"f", 300, 0}}, read);
    aborted.start(now);
    aborted.cancel();
    EXPECT_EQ(failure(aborted), kAborted);
    EXPECT_EQ(aborted.takeOutput(), QByteArray(8, kCan) + QByteArray(8, '\b'));
}

TEST(ProtocolMachines, BlockZeroAndHostileNames) {
    const QByteArray bytes = headerBytes({"fw.bin", 70000, 01234567});
    const std::optional<FileHeader> header = parseHeader(bytes.constData(), bytes.size());
    ASSERT_TRUE(header);
    EXPECT_EQ(header->name, "fw.bin");
    EXPECT_EQ(header->size, 70000);
    EXPECT_EQ(header->mtime, 01234567);
    EXPECT_FALSE(parseHeader("no end", 6));
    const std::optional<FileHeader> odd = parseHeader("a\0x9 99999999999999999999999\0", 30);
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->size, -1);
    EXPECT_EQ(odd->mtime, 0);

    const struct {
        QByteArray sent;
        QString name;
        bool changed;
    } names[] = {
        {"fw.bin", "fw.bin", false},
        {"../../x", "x", true},
        {"/etc/passwd", "passwd", true},
        {"C:\\boot\\fw.bin", "fw.bin", true},
        {"line\nbreak", "line_break", true},
        {".hidden", "hidden", true},
        {"..", "received.bin", true},
        {"dir/", "received.bin", true},
        {"\xff\xfe", "__", true},
    };
    for (const auto &n : names) {
        SCOPED_TRACE(n.sent.toStdString());
        const SafeName safe = safeFileName(n.sent);
        EXPECT_EQ(safe.name, n.name);
        EXPECT_EQ(safe.changed, n.changed);
    }
    EXPECT_EQ(printableName("a\nb\x01"), QStringLiteral("a\\nb\\x01"));
}

// sz and rz say the device's names as they came, and may end while the port still has bytes
// for them.
TEST(ProtocolMachines, TheHelpersWordsAreShownEscapedAndItsEndFailsAWrite) {
    LrzszProgress words;
    const QByteArray said("Receiving: a\x1b[31mred\rBytes received:   1200/   1200   BPS:9\r\n"
                          "rz: \x1b]0;x\x07gone\n");
    EXPECT_TRUE(words.feed(said.constData(), said.size()));
    EXPECT_EQ(words.file(), QStringLiteral("a\\x1b[31mred"));
    EXPECT_EQ(words.bytes(), 1200);
    EXPECT_EQ(words.lastWords(), QStringLiteral("rz: \\x1b]0;x\\x07gone"));

    platform::ChildProcess child;
    ASSERT_EQ(child.start(QStringLiteral("true"), {}, {}), QString());
    ASSERT_EQ(child.waitForExit(5000), 0);
    EXPECT_EQ(child.writeInput("x", 1), -1);
}

TEST(ProtocolMachines, ZmodemStartsAreFoundAcrossBursts) {
    ZmodemStartDetector detector;
    EXPECT_FALSE(detector.feed("rz\r***", 6));
    EXPECT_FALSE(detector.feed("\x18", 1));
    EXPECT_EQ(detector.feed("B0100000023be50\r\n", 17), ZmodemStart::Send);
    EXPECT_FALSE(detector.feed("**\x18"
                               "B02",
                               6));
    EXPECT_FALSE(detector.feed("*", 1));
    EXPECT_FALSE(detector.feed("*\x18", 2));
    EXPECT_EQ(detector.feed("B00", 3), ZmodemStart::Receive);
    EXPECT_FALSE(detector.feed("** B00", 6));
}
