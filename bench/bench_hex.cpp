// kalvosan-cli hex beside xxd and hexdump -C on the same 100 MB of random bytes, each writing
// into a pipe that this program drains: the CPU time (user + system) of the lister alone, for
// the file named, the same bytes on standard input (a pipe fed by cat), and hex --follow until
// it has listed the whole file. Target: hex at least twice as fast as xxd on the file and on
// standard input. Median of three rounds, the rounds alternating between the programs.
#include "bench/bench_stats.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr qint64 kSize = 100LL * 1024 * 1024;
constexpr int kRounds = 3;

struct Listing {
    double cpuSeconds = -1; // -1: the program failed
    qint64 output = 0;      // bytes it wrote
};

pid_t spawn(const std::vector<std::string> &argv, int in, int out) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in >= 0)
        posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    std::vector<char *> args;
    for (const std::string &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Runs the lister with its output into a pipe read here; with `input`, its standard input is a
// pipe that `cat input` feeds. `stopAfter` bytes of output (a follow never ends by itself) end
// it with SIGTERM.
Listing list(const std::vector<std::string> &argv, const QString &input = {},
             qint64 stopAfter = 0) {
    int out[2], in[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0 || (!input.isEmpty() && ::pipe2(in, O_CLOEXEC) != 0))
        return {};
    const pid_t feeder = input.isEmpty() ? -1 : spawn({"cat", input.toStdString()}, -1, in[1]);
    const pid_t lister = spawn(argv, in[0], out[1]);
    ::close(out[1]);
    if (in[0] >= 0) {
        ::close(in[0]);
        ::close(in[1]);
    }
    Listing listing;
    std::vector<char> buffer(1 << 16);
    for (ssize_t n; (n = ::read(out[0], buffer.data(), buffer.size())) > 0;) {
        listing.output += n;
        if (stopAfter > 0 && listing.output >= stopAfter && lister > 0)
            ::kill(lister, SIGTERM);
    }
    ::close(out[0]);
    if (feeder > 0)
        ::waitpid(feeder, nullptr, 0);
    int status = 0;
    rusage usage{};
    if (lister <= 0 || ::wait4(lister, &status, 0, &usage) != lister)
        return {};
    // A follow ends by the signal, however it reports it; anything else ends by itself, well.
    const bool ended = stopAfter > 0 || (WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (!ended)
        return {};
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    listing.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    return listing;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("random.bin"));
    {
        QByteArray bytes(kSize, Qt::Uninitialized);
        QRandomGenerator(25).fillRange(reinterpret_cast<quint32 *>(bytes.data()),
                                       qsizetype(kSize / 4));
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != kSize) {
            std::printf("cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    const std::string cli =
        (QCoreApplication::applicationDirPath() + "/kalvosan-cli").toStdString();
    const std::string path = file.toStdString();
    const qint64 fileListing = list({cli, "hex", path}).output;
    std::printf("hex listing of %lld MB of random bytes into a pipe, CPU seconds, median of %d "
                "(load average %s):\n",
                kSize >> 20, kRounds, qPrintable(bench::loadAverage()));
    struct Case {
        const char *name;
        std::vector<std::string> argv;
        QString input;
        qint64 stopAfter = 0;
    };
    std::vector<Case> cases = {
        {"kalvosan-cli hex FILE", {cli, "hex", path}, {}, 0},
        {"kalvosan-cli hex - (stdin)", {cli, "hex", "-"}, file, 0},
        {"kalvosan-cli hex --follow", {cli, "hex", "--follow", path}, {}, fileListing},
    };
    if (!QStandardPaths::findExecutable(QStringLiteral("xxd")).isEmpty()) {
        cases.push_back({"xxd FILE", {"xxd", path}, {}, 0});
        cases.push_back({"xxd (stdin)", {"xxd"}, file, 0});
    }
    cases.push_back({"hexdump -C FILE", {"hexdump", "-C", path}, {}, 0});
    std::map<std::string, std::vector<double>> cpu;
    for (int round = 0; round < kRounds; ++round) {
        for (const Case &c : cases) {
            const Listing listing = list(c.argv, c.input, c.stopAfter);
            if (listing.cpuSeconds < 0) {
                std::printf("  %s failed\n", c.name);
                return 1;
            }
            cpu[c.name].push_back(listing.cpuSeconds);
        }
    }
    for (const Case &c : cases)
        std::printf("  %-28s %6.3f s  (%.3f to %.3f)\n", c.name, bench::median(cpu[c.name]),
                    bench::percentile(cpu[c.name], 0), bench::percentile(cpu[c.name], 1));
    if (!cpu.count("xxd FILE")) {
        std::printf("  xxd not installed (make deps installs it)\n");
        return 0;
    }
    const auto judge = [&](const char *ours, const char *theirs) {
        const double ratio = bench::median(cpu[theirs]) / bench::median(cpu[ours]);
        std::printf("  %s: %.1f times as fast as %s (target >= 2)%s\n", ours, ratio, theirs,
                    ratio >= 2 ? "" : "  MISSED");
    };
    judge("kalvosan-cli hex FILE", "xxd FILE");
    judge("kalvosan-cli hex - (stdin)", "xxd (stdin)");
    return 0;
}
