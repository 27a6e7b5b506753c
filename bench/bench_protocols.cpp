// YMODEM through a pty, 4 MB each way, the peer (lrzsz's rb or sb) on a socket pair that is
// relayed to the pty's master. Kalvosan's send from the slave against lrzsz's own sb run on
// the same slave, to the same rb; Kalvosan's receive on the slave against rb on the slave,
// from the same sb. Throughput and the CPU time of the program on the slave, medians of a few
// runs.
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
    Side oursSend, sbSend, oursReceive, rbReceive;
    try {
        for (int run = 0; run < kRuns; ++run) {
            testsupport::Pty pty;
            const QString slave = pty.slavePath();
            const auto fresh = [&](const QString &name) {
                const QString path = dir.filePath(name + QString::number(run));
                QDir().mkpath(path);
                return path;
            };
            const QString a = fresh("a"), b = fresh("b"), c = fresh("c"), d = fresh("d");
            {
                testsupport::LrzszPeer rb(pty.master(), {"rb", "-b"}, a);
                oursSend.add(runProgram(
                    {cli, "-q", "send", slave, source, "--protocol", "ymodem", "--baud", "115200"},
                    dir.path()));
                rb.wait();
                check(a + "/four.bin", bytes);
            }
            {
                testsupport::LrzszPeer rb(pty.master(), {"rb", "-b"}, b, {}, 0);
                sbSend.add(runProgram({"sb", "-b", source}, dir.path(), slave));
                rb.wait();
                check(b + "/four.bin", bytes);
            }
            {
                testsupport::LrzszPeer sb(pty.master(), {"sb", "-b", source}, dir.path());
                oursReceive.add(runProgram({cli, "-q", "receive", slave, "--protocol", "ymodem",
                                            "--dir", c, "--baud", "115200"},
                                           dir.path()));
                sb.wait();
                check(c + "/four.bin", bytes);
            }
            {
                testsupport::LrzszPeer sb(pty.master(), {"sb", "-b", source}, dir.path(), {}, 0);
                rbReceive.add(runProgram({"rb", "-b"}, d, slave));
                sb.wait();
                check(d + "/four.bin", bytes);
            }
        }
    } catch (const std::exception &e) {
        std::printf("bench_protocols: %s\n", e.what());
        return 1;
    }
    std::printf("YMODEM, 4 MB through a pty, medians of %d runs\n", kRuns);
    compare("send to rb   ", "kalvosan-cli send", oursSend, "sb", sbSend);
    compare("receive from sb", "kalvosan-cli receive", oursReceive, "rb", rbReceive);
    return 0;
}
