// YMODEM and ZMODEM through a pty, 4 MB each way, the peer (lrzsz's rb/sb or rz/sz) on a
// socket pair that is relayed to the pty's master. Kalvosan's send from the slave against
// lrzsz's own sender run on the same slave, to the same receiver; Kalvosan's receive on the
// slave against lrzsz's receiver on the slave, from the same sender. Throughput and the CPU
// time of the program on the slave, medians of a few runs. Kalvosan's ZMODEM runs sz or rz
// itself and carries their bytes: the figure is the cost of that bridge.
#include "bench/bench_stats.h"
#include "platform/child_process.h"
#include "tests/test_lrzsz_peer.h"
#include "tests/test_pty.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr qsizetype kSize = 4 << 20;
constexpr int kRuns = 3;

struct Run {
    double seconds = 0;
    double cpuSeconds = 0;
};

// Runs the program to its end (standard input and output on `tty` when given) and measures it.
Run runProgram(const QStringList &command, const QString &directory, const QString &tty = {}) {
    platform::ArgumentVector argv(command);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray where = QFile::encodeName(directory);
    const QByteArray device = QFile::encodeName(tty);
    posix_spawn_file_actions_addchdir_np(&actions, where.constData());
    if (!tty.isEmpty()) {
        posix_spawn_file_actions_addopen(&actions, 0, device.constData(), O_RDWR | O_NOCTTY, 0);
        posix_spawn_file_actions_adddup2(&actions, 0, 1);
    }
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto began = std::chrono::steady_clock::now();
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv.program(), &actions, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("could not start " + command.first().toStdString());
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(command.first().toStdString() + " failed");
    const auto cpu = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return {seconds, cpu(usage.ru_utime) + cpu(usage.ru_stime)};
}

void check(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.readAll() != bytes)
        throw std::runtime_error("the received file differs: " + path.toStdString());
}

struct Side {
    std::vector<double> mbPerSecond;
    std::vector<double> cpu;
    void add(const Run &run) {
        mbPerSecond.push_back(double(kSize) / 1e6 / run.seconds);
        cpu.push_back(run.cpuSeconds);
    }
};

void compare(const char *what, const char *ours, const Side &kalvosan, const char *theirs,
             const Side &lrzsz) {
    const double k = bench::median(kalvosan.mbPerSecond);
    const double l = bench::median(lrzsz.mbPerSecond);
    std::printf("%s: %s %.3f MB/s (CPU %.3f s), %s %.3f MB/s (CPU %.3f s): ratio %.2f%s\n", what,
                ours, k, bench::median(kalvosan.cpu), theirs, l, bench::median(lrzsz.cpu), k / l,
                k / l >= 1.0 ? "" : "  BELOW 1.0");
}

struct Protocol {
    const char *title;
    const char *option;
    const char *sender;   // lrzsz's
    const char *receiver; // lrzsz's
};

void measure(const Protocol &protocol, const QString &cli, const QTemporaryDir &dir,
             const QString &source, const QByteArray &bytes) {
    const QString sender = QString::fromLatin1(protocol.sender);
    const QString receiver = QString::fromLatin1(protocol.receiver);
    const QString option = QString::fromLatin1(protocol.option);
    Side oursSend, theirSend, oursReceive, theirReceive;
    for (int run = 0; run < kRuns; ++run) {
        testsupport::Pty pty;
        const QString slave = pty.slavePath();
        const auto fresh = [&](const QString &name) {
            const QString path = dir.filePath(option + name + QString::number(run));
            QDir().mkpath(path);
            return path;
        };
        const QString a = fresh("a"), b = fresh("b"), c = fresh("c"), d = fresh("d");
        {
            testsupport::LrzszPeer peer(pty.master(), {receiver, "-b"}, a);
            oursSend.add(runProgram(
                {cli, "-q", "send", slave, source, "--protocol", option, "--baud", "115200"},
                dir.path()));
            peer.wait();
            check(a + "/four.bin", bytes);
        }
        {
            testsupport::LrzszPeer peer(pty.master(), {receiver, "-b"}, b, {}, 0);
            theirSend.add(runProgram({sender, "-b", source}, dir.path(), slave));
            peer.wait();
            check(b + "/four.bin", bytes);
        }
        {
            testsupport::LrzszPeer peer(pty.master(), {sender, "-b", source}, dir.path());
            oursReceive.add(runProgram(
                {cli, "-q", "receive", slave, "--protocol", option, "--dir", c, "--baud", "115200"},
                dir.path()));
            peer.wait();
            check(c + "/four.bin", bytes);
        }
        {
            testsupport::LrzszPeer peer(pty.master(), {sender, "-b", source}, dir.path(), {}, 0);
            theirReceive.add(runProgram({receiver, "-b"}, d, slave));
            peer.wait();
            check(d + "/four.bin", bytes);
        }
    }
    std::printf("%s, 4 MB through a pty, medians of %d runs\n", protocol.title, kRuns);
    compare("  send   ", "kalvosan-cli send", oursSend, protocol.sender, theirSend);
    compare("  receive", "kalvosan-cli receive", oursReceive, protocol.receiver, theirReceive);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv) {
    const bench::Environment environment;
    QCoreApplication app(argc, argv);
    const QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/kalvosan-cli");
    QTemporaryDir dir;
    QByteArray bytes(kSize, 0);
    QRandomGenerator rng(4);
    for (char &b : bytes)
        b = char(rng.bounded(256));
    const QString source = dir.filePath(QStringLiteral("four.bin"));
    {
        QFile file(source);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != kSize)
            return 1;
    }
    try {
        for (const Protocol &protocol :
             {Protocol{"YMODEM", "ymodem", "sb", "rb"}, Protocol{"ZMODEM", "zmodem", "sz", "rz"}})
            measure(protocol, cli, dir, source, bytes);
    } catch (const std::exception &e) {
        std::printf("bench_protocols: %s\n", e.what());
        return 1;
    }
    return 0;
}
