// kalvosan-cli's proof of timing, line delay, arrival times and captures through an unplug,
// run as a user runs it, with ptys as the devices.
#include "loader/arrival_times.h"
#include "tests/test_cli_support.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>

namespace {

using namespace testsupport;

using CliTiming = CliProcessTest;

// A send byte by byte reports its gaps on standard error and as JSON; the line delay comes
// on top after each line feed, and with whole chunks the lines still arrive whole.
TEST_F(CliTiming, ASendByteByByteReportsItsTimingWithTheLineDelay) {
    const QByteArray lines = "one\ntwo\nthree\n";
    writeFile(path("lines.txt"), lines);
    start({"send", m_pty.slavePath(), path("lines.txt"), "--delay", "0.5", "--line-delay", "3",
           "--report", path("report.json")});
    EXPECT_EQ(m_pty.read(int(lines.size()), 20000), lines);
    ASSERT_EQ(finish(), 0) << m_err.constData();
    EXPECT_TRUE(m_err.contains("Bytes sent: 14")) << m_err.constData();
    EXPECT_TRUE(m_err.contains("Line delay asked for: 3.000 ms")) << m_err.constData();
    const QJsonObject report = QJsonDocument::fromJson(readFile(path("report.json"))).object();
    EXPECT_EQ(report.value("bytes").toInt(), 14);
    EXPECT_EQ(report.value("gaps").toInt(), 13);
    EXPECT_DOUBLE_EQ(report.value("delay_ms").toDouble(), 0.5);
    EXPECT_DOUBLE_EQ(report.value("line_delay_ms").toDouble(), 3);
    // The largest gap holds a line delay: 3.5 ms, less at most the schedule's margin of 2 %
    // (the byte before it may have gone out that much after its due time).
    EXPECT_GE(report.value("largest_ms").toDouble(), 3.5 * 0.98);
    // A pty's write is complete once the kernel has the byte, whenever its reader takes it.
    EXPECT_EQ(report.value("measured_at").toString(), "kernel buffer");
    EXPECT_TRUE(m_err.contains("Measured where the bytes entered the kernel's buffer"))
        << m_err.constData();
    // Every gap in one bar of the histogram, the bars in order, and the count of early gaps.
    const QJsonArray bars = report.value("histogram").toArray();
    EXPECT_GE(bars.size(), 3);
    qint64 inBars = 0;
    for (qsizetype i = 0; i < bars.size(); ++i) {
        inBars += bars[i].toObject().value("count").toInteger();
        if (i > 0) {
            EXPECT_GT(bars[i].toObject().value("lower_ms").toDouble(),
                      bars[i - 1].toObject().value("lower_ms").toDouble());
        }
    }
    EXPECT_EQ(inBars, 13);
    EXPECT_TRUE(report.contains("early_gaps"));

    // The same report as a picture.
    start({"send", m_pty.slavePath(), path("lines.txt"), "--delay", "0.5", "--report",
           path("report.SVG")});
    EXPECT_EQ(m_pty.read(int(lines.size()), 20000), lines);
    ASSERT_EQ(finish(), 0) << m_err.constData();
    const QByteArray svg = readFile(path("report.SVG"));
    EXPECT_TRUE(svg.startsWith("<?xml")) << svg.constData();
    EXPECT_TRUE(svg.contains("<desc>Histogram of 13 gaps between bytes: median "))
        << svg.constData();
    EXPECT_TRUE(svg.contains("<rect ")) << svg.constData();
    EXPECT_TRUE(svg.trimmed().endsWith("</svg>")) << svg.constData();

    m_err.clear();
    start({"send", m_pty.slavePath(), path("lines.txt"), "--delay", "-1", "--line-delay", "2"});
    EXPECT_EQ(m_pty.read(int(lines.size()), 20000), lines);
    ASSERT_EQ(finish(), 0) << m_err.constData();
    EXPECT_EQ(m_err, "") << "no timing report for whole chunks";
}

// capture --times writes NAME.times, and hex --times prints each burst's time before the line
// that holds its first byte.
TEST_F(CliTiming, ArrivalTimesGoBesideTheCaptureAndIntoTheHexListing) {
    const QString capture = path("data000000.bin");
    start({"capture", m_pty.slavePath(), "--dir", m_dir.path(), "--times"});
    ASSERT_TRUE(syncCapture(m_pty, capture));
    m_pty.write(QByteArray(40, 'x'));
    ASSERT_TRUE(waitUntil([&] { return QFileInfo(capture).size() >= 41; }));
    m_process.terminate();
    ASSERT_EQ(finish(), 0) << m_err.constData();
    const QList<arrival::Burst> bursts = arrival::readSidecar(arrival::sidecarPath(capture));
    ASSERT_GE(bursts.size(), 2) << "the sync byte, then the burst";
    EXPECT_EQ(bursts.front().offset, 0);

    start({"hex", capture, "--times"});
    ASSERT_EQ(finish(), 0) << m_err.constData();
    // Both bursts begin in the first line: their times come before it.
    const QList<QByteArray> out = m_out.split('\n');
    ASSERT_GE(out.size(), qsizetype(bursts.size()) + 1);
    for (qsizetype i = 0; i < bursts.size(); ++i)
        EXPECT_EQ(out[i], "# " + bursts[i].time.toLatin1());
    EXPECT_TRUE(out[bursts.size()].startsWith("00000  ")) << m_out.constData();

    // A capture without times leaves no older times beside its file; a FIFO planted there is
    // not waited on. Either way the listing says it has no times to show.
    ASSERT_EQ(run({"capture", m_pty.slavePath(), "--dir", m_dir.path(), "--name", "data000000.bin",
                   "--seconds", "0.2"}),
              0);
    EXPECT_FALSE(QFileInfo::exists(arrival::sidecarPath(capture)));
    ASSERT_EQ(::mkfifo(QFile::encodeName(arrival::sidecarPath(capture)).constData(), 0600), 0);
    ASSERT_EQ(run({"hex", capture, "--times"}), 0) << m_err.constData();
    EXPECT_TRUE(m_err.contains("no arrival times")) << m_err.constData();

    // A garbled times file, however large, is read no further than the listing needs: a line
    // after 64 MiB of zeros is never reached for a 100-byte capture.
    writeFile(path("small.bin"), QByteArray(100, 's'));
    QFile garbled(arrival::sidecarPath(path("small.bin")));
    ASSERT_TRUE(garbled.open(QIODevice::WriteOnly) && garbled.resize(64 << 20) &&
                garbled.seek(64 << 20));
    garbled.write("\n" + arrival::line(50, arrival::WallClock::now()));
    garbled.close();
    ASSERT_EQ(run({"hex", path("small.bin"), "--times"}), 0) << m_err.constData();
    EXPECT_FALSE(m_out.contains("# ")) << m_out.constData();
    EXPECT_TRUE(m_out.startsWith("00000  73 73")) << m_out.constData();
}

// The port is a link to the device, as /dev/serial/by-id/... links are; the device goes away
// and comes back as another pty behind the same link.
TEST_F(CliTiming, ACaptureWaitsForAnUnpluggedDeviceAndGoesOnWhenItIsBack) {
    const QString link = path("usb-device-if00");
    ASSERT_TRUE(QFile::link(m_pty.slavePath(), link));
    const QString capture = path("data000000.bin");
    start({"capture", link, "--dir", m_dir.path(), "--times"});
    ASSERT_TRUE(syncCapture(m_pty, capture));
    m_pty.write("before|");
    ASSERT_TRUE(waitUntil([&] { return readFile(capture).endsWith("before|"); }));
    m_pty.closeMaster();
    const QByteArray waiting = "kalvosan-cli: Waiting for " + link.toLocal8Bit() + "...\n";
    ASSERT_TRUE(waitUntil([&] {
        m_err += m_process.readAllStandardError();
        return m_err.contains(waiting);
    }));
    auto replugged = std::make_unique<Pty>();
    ASSERT_TRUE(QFile::remove(link));
    ASSERT_TRUE(QFile::link(replugged->slavePath(), link));
    // Bytes are taken once the port is open again: until then they are written anew.
    ASSERT_TRUE(waitUntil(
        [&] {
            if (!readFile(capture).endsWith("after"))
                replugged->write("after");
            return waitUntil([&] { return readFile(capture).endsWith("after"); }, 600);
        },
        20000));
    m_process.terminate();
    ASSERT_EQ(finish(), 0) << m_err.constData();
    EXPECT_TRUE(m_err.contains("kalvosan-cli: " + link.toLocal8Bit() + " is back"))
        << m_err.constData();
    EXPECT_TRUE(afterSync(readFile(capture)).startsWith("before|after"))
        << readFile(capture).constData();
    const QList<arrival::Burst> bursts = arrival::readSidecar(arrival::sidecarPath(capture));
    EXPECT_EQ(
        std::count_if(bursts.begin(), bursts.end(), [](const auto &b) { return b.reconnected; }),
        1);
}

} // namespace
