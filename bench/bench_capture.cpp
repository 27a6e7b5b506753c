// Capture throughput and idle cost. 100 MB are pushed into a pty as fast as the reading side
// takes them, once read by `cat` into a file, once by a real capture of the terminal window,
// once by kalvosan-cli and once by kalvosan-cli writing to standard output, a pipe that `cat`
// empties into a file; each capture's rate is compared with cat's in the same run and its
// file with the input. Then the CPU time of a window's capture that receives nothing for 10 s.
#include "app/terminal_dialog.h"
#include "bench/bench_stats.h"
#include "res/control_ids.h"
#include "tests/test_cli_support.h"
#include "tests/test_support.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using testsupport::Pty;
constexpr qint64 kVolume = 100LL * 1024 * 1024;
constexpr int kRounds = 3;

QByteArray randomInput() {
    QByteArray bytes(kVolume, Qt::Uninitialized);
    std::uint64_t x = 0x9E3779B97F4A7C15ULL;
    for (qint64 i = 0; i + 8 <= bytes.size(); i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        std::memcpy(bytes.data() + i, &x, 8);
    }
    return bytes;
}

bool waitForSize(const QString &path, qint64 size, std::chrono::seconds limit) {
    const Clock::time_point end = Clock::now() + limit;
    while (QFileInfo(path).size() < size) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Seconds from the first byte pushed until the file holds all of them (after `before` bytes
// already there); negative on a stall.
double timedTransfer(Pty &pty, const QByteArray &input, const QString &path, qint64 before = 0) {
    const Clock::time_point start = Clock::now();
    std::thread writer([&] { pty.write(input); });
    writer.join();
    const bool complete = waitForSize(path, before + input.size(), std::chrono::seconds(60));
    const std::chrono::duration<double> took = Clock::now() - start;
    return complete ? took.count() : -1;
}

double catRound(const QByteArray &input, const QString &dir) {
    Pty pty;
    const QString path = dir + QStringLiteral("/cat.bin");
    QProcess cat;
    cat.setStandardInputFile(pty.slavePath());
    cat.setStandardOutputFile(path, QIODevice::Truncate);
    cat.start(QStringLiteral("cat"), {});
    if (!cat.waitForStarted())
        throw std::runtime_error("cannot start cat");
    const double seconds = timedTransfer(pty, input, path);
    cat.kill();
    cat.waitForFinished();
    return seconds;
}

void setUpCapture(TerminalDialog &dialog, const Pty &pty, const QString &dir) {
    dialog.itemAs<QComboBox>(ctl::Port)->setEditText(pty.slavePath());
    dialog.itemAs<QLineEdit>(ctl::DropDirectory)->setText(dir);
    dialog.itemAs<QLineEdit>(ctl::CaptureFile)->setText(QStringLiteral("capture.bin"));
    dialog.OnStartCapture();
    if (!dialog.item(ctl::Stop)->isEnabled())
        throw std::runtime_error("the capture did not start");
    // The worker drops what waits at its start; let it get there before anything is sent.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

// The rate, and whether the file equals the input.
std::pair<double, bool> captureRound(const QByteArray &input, const QString &dir) {
    Pty pty;
    TerminalDialog dialog;
    if (!dialog.OnInitDialog())
        throw std::runtime_error("no loader library");
    setUpCapture(dialog, pty, dir);
    const double seconds = timedTransfer(pty, input, dir + QStringLiteral("/capture.bin"));
    dialog.OnStopCapture();
    QFile file(dir + QStringLiteral("/capture.bin"));
    file.open(QIODevice::ReadOnly);
    const bool equal = file.readAll() == input;
    return {seconds, equal};
}

// The same through kalvosan-cli from this benchmark's bin directory, ended by SIGTERM once the
// file is complete. One sync byte shows that its capture runs, since it drops what waits at
// its start.
std::pair<double, bool> cliRound(const QByteArray &input, const QString &dir) {
    Pty pty;
    const QString path = dir + QStringLiteral("/cli.bin");
    // The sync looks at the file's size: the last round's file must not answer it.
    QFile::remove(path);
    QProcess cli;
    cli.start(QCoreApplication::applicationDirPath() + QStringLiteral("/kalvosan-cli"),
              {QStringLiteral("capture"), pty.slavePath(), QStringLiteral("--dir"), dir,
               QStringLiteral("--name"), QStringLiteral("cli.bin")});
    if (!cli.waitForStarted() || !testsupport::syncCapture(pty, path))
        throw std::runtime_error("kalvosan-cli did not start its capture");
    const qint64 synced = QFileInfo(path).size();
    const double seconds = timedTransfer(pty, input, path, synced);
    cli.terminate();
    const bool ended = cli.waitForFinished(10000) && cli.exitCode() == 0;
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return {seconds, ended && file.readAll().mid(synced) == input};
}

// kalvosan-cli capture --output - in a shell pipe into cat, ended by its idle time.
std::pair<double, bool> cliPipeRound(const QByteArray &input, const QString &dir) {
    Pty pty;
    const QString path = dir + QStringLiteral("/pipe.bin");
    QFile::remove(path);
    QProcess shell;
    shell.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"),
                 QStringLiteral("'%1' -q capture '%2' --output - --idle 2 | cat > '%3'")
                     .arg(QCoreApplication::applicationDirPath() + QStringLiteral("/kalvosan-cli"),
                          pty.slavePath(), path)});
    if (!shell.waitForStarted() || !testsupport::syncCapture(pty, path))
        throw std::runtime_error("kalvosan-cli did not start its capture to standard output");
    const qint64 synced = QFileInfo(path).size();
    const double seconds = timedTransfer(pty, input, path, synced);
    const bool ended = shell.waitForFinished(10000) && shell.exitCode() == 0;
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return {seconds, ended && file.readAll().mid(synced) == input};
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The CPU of a capture in 10 s while nothing arrives, or, with `unplugged`, while its device
// is gone and it tries to open the port again every 500 ms; negative when it never said it
// was waiting.
double captureCpu(const QString &dir, bool unplugged) {
    Pty pty;
    TerminalDialog dialog;
    if (!dialog.OnInitDialog())
        throw std::runtime_error("no loader library");
    setUpCapture(dialog, pty, dir);
    const auto waiting = [&] {
        return dialog.windowTitle().startsWith(QStringLiteral("Kalvosan - Waiting for "));
    };
    if (unplugged) {
        pty.closeMaster();
        const Clock::time_point until = Clock::now() + std::chrono::seconds(1);
        while (!waiting() && Clock::now() < until)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    const bool ready = !unplugged || waiting();
    const double before = cpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const double used = cpuSeconds() - before;
    dialog.OnStopCapture();
    return ready ? used : -1;
}

using bench::median;

} // namespace

int main(int argc, char **argv) {
    const bench::Environment environment;
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QByteArray input = randomInput();
    std::vector<double> catMBs;
    std::vector<double> captureMBs;
    std::vector<double> cliMBs;
    std::vector<double> pipeMBs;
    bool windowEqual = true;
    bool cliEqual = true;
    bool pipeEqual = true;
    const double mb = double(kVolume) / (1024 * 1024);
    for (int round = 0; round < kRounds; ++round) {
        const double catSeconds = catRound(input, dir.path());
        const auto [captureSeconds, equal] = captureRound(input, dir.path());
        const auto [cliSeconds, cliFileEqual] = cliRound(input, dir.path());
        const auto [pipeSeconds, pipeFileEqual] = cliPipeRound(input, dir.path());
        if (catSeconds <= 0 || captureSeconds <= 0 || cliSeconds <= 0 || pipeSeconds <= 0) {
            std::printf("a transfer stalled (cat %.3f s, capture %.3f s, kalvosan-cli %.3f s, "
                        "to a pipe %.3f s)\n",
                        catSeconds, captureSeconds, cliSeconds, pipeSeconds);
            return 1;
        }
        windowEqual = windowEqual && equal;
        cliEqual = cliEqual && cliFileEqual;
        pipeEqual = pipeEqual && pipeFileEqual;
        catMBs.push_back(mb / catSeconds);
        captureMBs.push_back(mb / captureSeconds);
        cliMBs.push_back(mb / cliSeconds);
        pipeMBs.push_back(mb / pipeSeconds);
        std::printf("round %d: cat %.1f MB/s, capture %.1f MB/s, kalvosan-cli %.1f MB/s, to a "
                    "pipe %.1f MB/s, files %s\n",
                    round + 1, catMBs.back(), captureMBs.back(), cliMBs.back(), pipeMBs.back(),
                    equal && cliFileEqual && pipeFileEqual ? "equal" : "DIFFER");
    }
    const auto summary = [&](const char *who, const std::vector<double> &rates, bool equal) {
        const double ratio = median(rates) / median(catMBs);
        std::printf("%s, capture of %.0f MB through a pty (median of %d): %.1f MB/s, cat %.1f "
                    "MB/s, ratio %.2f (target >= 0.80%s), no byte lost: %s\n",
                    who, mb, kRounds, median(rates), median(catMBs), ratio,
                    ratio >= 0.8 ? "" : ", MISSED", equal ? "yes" : "NO");
    };
    summary("window", captureMBs, windowEqual);
    summary("kalvosan-cli", cliMBs, cliEqual);
    summary("kalvosan-cli --output - | cat", pipeMBs, pipeEqual);
    const double idle = captureCpu(dir.path(), false);
    std::printf("idle capture, 10 s: %.1f ms CPU (%.2f %% of one core)\n", idle * 1e3,
                idle / 10 * 100);
    const double waiting = captureCpu(dir.path(), true);
    if (waiting < 0)
        std::printf("capture waiting for an unplugged device: it never said it was waiting\n");
    else
        std::printf("capture waiting for an unplugged device, 10 s: %.1f ms CPU (%.2f %% of one "
                    "core, target < 1 %%)\n",
                    waiting * 1e3, waiting / 10 * 100);
    // The rate depends on the machine's load; a lost byte is a fault wherever it runs.
    return windowEqual && cliEqual && pipeEqual ? 0 : 1;
}
