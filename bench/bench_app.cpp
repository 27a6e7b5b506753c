// Start-up: the time from starting a process to the terminal window being shown (median of
// 10 runs), and the process's resident memory right after. Each run is a fresh child process
// that builds the window as the program does and reports the moment it is exposed.
#include "app/terminal_dialog.h"
#include "bench/bench_stats.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

long residentKiB() {
    QFile status("/proc/self/status");
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

int child(int argc, char **argv) {
    QApplication app(argc, argv);
    TerminalDialog dialog;
    if (!dialog.OnInitDialog())
        return 1;
    dialog.show();
    if (!QTest::qWaitForWindowExposed(&dialog))
        return 2;
    std::printf("%.3f %ld\n", monotonicMs(), residentKiB());
    return 0;
}

using bench::median;

} // namespace

int main(int argc, char **argv) {
    if (argc > 1 && QByteArray(argv[1]) == "--child")
        return child(argc, argv);
    QCoreApplication app(argc, argv);
    QTemporaryDir config;
    std::vector<double> startMs;
    std::vector<double> rssMiB;
    for (int run = 0; run < 10; ++run) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", config.path());
        env.insert("QT_QPA_PLATFORM", env.value("QT_QPA_PLATFORM", "offscreen"));
        p.setProcessEnvironment(env);
        const double t0 = monotonicMs();
        p.start(QCoreApplication::applicationFilePath(), {"--child"});
        if (!p.waitForFinished(30000) || p.exitCode() != 0) {
            std::fprintf(stderr, "run %d failed\n", run);
            return 1;
        }
        const QList<QByteArray> out = p.readAllStandardOutput().trimmed().split(' ');
        startMs.push_back(out.value(0).toDouble() - t0);
        rssMiB.push_back(out.value(1).toDouble() / 1024.0);
    }
    std::printf("start-up: process start to window shown, median of 10: %.1f ms\n",
                median(startMs));
    std::printf("start-up: resident memory after start, median of 10: %.1f MiB\n", median(rssMiB));
    return 0;
}
