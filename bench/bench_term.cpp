// kalvosan-cli term beside tio and picocom, each driven through a pty as its terminal with
// another pty as the device, in alternating rounds of the same bytes:
//  1. key to device: a key typed on the terminal until the device reads it; and device to
//     screen: a byte the device sends until the terminal shows it. Median and p99 of each;
//     target: kalvosan no worse than either on every figure;
//  2. a device flooding 20 MB at full pty speed, each program with its log on: each log
//     complete and equal, and the throughput to the screen against tio's (target: ratio >=
//     0.9) and picocom's. tio writes its screen one byte at a time (strace shows a write(2)
//     per byte), which bounds it near 0.5 MB/s on a pty here.
#include "bench/bench_device.h"
#include "bench/bench_stats.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using bench::Clock;

constexpr int kRounds = 6;
constexpr int kSamplesPerRound = 60;
constexpr qint64 kFloodBytes = 20 * 1024 * 1024;
constexpr int kFloodRounds = 3;

// Reads what is there within the time; the count read.
qint64 readFor(int fd, QByteArray *into, int timeoutMs) {
    char buffer[65536];
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0)
        return 0;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0 && into)
        into->append(buffer, n);
    return n > 0 ? n : 0;
}

// One terminal program running on a user pty of its own against a device pty.
class Terminal {
public:
    Terminal(const QString &name, const QStringList &arguments, const QByteArray &ready)
        : m_name(name) {
        char path[256] = {};
        if (::openpty(&m_user, &m_userSlave, path, nullptr, nullptr) != 0)
            std::abort();
        const int slave = m_userSlave;
        m_process.setChildProcessModifier([slave] {
            ::setsid();
            ::ioctl(slave, TIOCSCTTY, 0);
            for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
                ::dup2(slave, fd);
        });
        QStringList args = arguments;
        args.replaceInStrings(QStringLiteral("DEVICE"), m_device.path());
        const QString program =
            name == QLatin1String("kalvosan")
                ? QCoreApplication::applicationDirPath() + QStringLiteral("/kalvosan-cli")
                : name;
        m_process.start(program, args);
        QByteArray screen;
        const auto end = Clock::now() + std::chrono::seconds(10);
        while (!screen.contains(ready) && Clock::now() < end)
            readFor(m_user, &screen, 50);
        m_ready = screen.contains(ready);
        // Whatever else the program says at its start is not measured.
        while (readFor(m_user, nullptr, 200) > 0) {
        }
    }
    ~Terminal() {
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(3000);
        ::close(m_user);
        ::close(m_userSlave);
    }
    bool ready() const { return m_ready; }
    const QString &name() const { return m_name; }

    // From writing one byte on `from` to reading it on `to`, in ms; -1 when it never came.
    static double oneByte(int from, int to, char byte) {
        const Clock::time_point begin = Clock::now();
        if (::write(from, &byte, 1) != 1)
            return -1;
        QByteArray got;
        while (!got.contains(byte)) {
            if (readFor(to, &got, 2000) == 0)
                return -1;
        }
        return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
    }
    double keyToDevice(char byte) { return oneByte(m_user, m_device.master(), byte); }
    double deviceToScreen(char byte) { return oneByte(m_device.master(), m_user, byte); }

    // The device writes all bytes as fast as the pty takes them; MB/s at the screen.
    double flood(const QByteArray &bytes) {
        std::thread writer([&] {
            qint64 done = 0;
            while (done < bytes.size()) {
                const ssize_t n = ::write(m_device.master(), bytes.constData() + done,
                                          size_t(bytes.size() - done));
                if (n > 0)
                    done += n;
            }
        });
        const Clock::time_point begin = Clock::now();
        qint64 shown = 0;
        while (shown < bytes.size()) {
            const qint64 n = readFor(m_user, nullptr, 5000);
            if (n == 0)
                break;
            shown += n;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
        writer.join();
        return shown == bytes.size() ? bytes.size() / seconds / 1e6 : 0;
    }

private:
    QString m_name;
    bench::Pty m_device;
    int m_user = -1;
    int m_userSlave = -1;
    QProcess m_process;
    bool m_ready = false;
};

struct Figures {
    std::vector<double> key;
    std::vector<double> screen;
};

// Each program with its own log of what the device sent when `log` is given: kalvosan's
// --log, tio's --log-file, picocom's --logfile.
std::unique_ptr<Terminal> startTerminal(const QString &name, const QString &log = {}) {
    if (name == QLatin1String("kalvosan")) {
        QStringList args{QStringLiteral("-q"), QStringLiteral("term"), QStringLiteral("DEVICE"),
                         QStringLiteral("--baud"), QStringLiteral("115200")};
        if (!log.isEmpty())
            args << QStringLiteral("--log") << QStringLiteral("--dir") << QFileInfo(log).path()
                 << QStringLiteral("--name") << QFileInfo(log).fileName();
        // -q keeps the start quiet; the terminal is ready once its port is open.
        return std::make_unique<Terminal>(name, args, QByteArray());
    }
    if (name == QLatin1String("tio")) {
        QStringList args{QStringLiteral("DEVICE")};
        if (!log.isEmpty())
            args << QStringLiteral("--log") << QStringLiteral("--log-file") << log;
        return std::make_unique<Terminal>(name, args, QByteArray("Connected"));
    }
    QStringList args{QStringLiteral("-b"), QStringLiteral("115200"), QStringLiteral("DEVICE")};
    if (!log.isEmpty())
        args << QStringLiteral("--logfile") << log;
    return std::make_unique<Terminal>(name, args, QByteArray("Terminal ready"));
}

void latencies(const QStringList &names) {
    std::vector<Figures> figures(size_t(names.size()));
    for (int round = 0; round < kRounds; ++round) {
        for (qsizetype i = 0; i < names.size(); ++i) {
            // Each round starts the programs in another order.
            const qsizetype which = (i + round) % names.size();
            auto terminal = startTerminal(names[which]);
            if (!terminal->ready()) {
                std::printf("%s did not start\n", qPrintable(names[which]));
                continue;
            }
            for (int s = 0; s < kSamplesPerRound; ++s) {
                const char byte = char('a' + s % 26);
                figures[size_t(which)].key.push_back(terminal->keyToDevice(byte));
                figures[size_t(which)].screen.push_back(terminal->deviceToScreen(byte));
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
    }
    for (const char *direction : {"key to device", "device to screen"}) {
        std::printf("%s (%d samples each):\n", direction, kRounds * kSamplesPerRound);
        for (qsizetype i = 0; i < names.size(); ++i) {
            const std::vector<double> &v =
                direction[0] == 'k' ? figures[size_t(i)].key : figures[size_t(i)].screen;
            if (v.empty())
                continue;
            std::printf("  %-10s median %.3f ms  p99 %.3f ms\n", qPrintable(names[i]),
                        bench::percentile(v, 0.5), bench::percentile(v, 0.99));
        }
    }
}

// Every program the same: the same bytes, its screen read as fast as it writes, its own log
// on, in rounds that start each in turn.
void flood(const QStringList &names) {
    QByteArray bytes(kFloodBytes, 0);
    QRandomGenerator rng(7);
    for (char &b : bytes)
        b = char(rng.bounded(256));
    std::vector<std::vector<double>> rates(size_t(names.size()));
    std::vector<bool> logsEqual(size_t(names.size()), true);
    for (int round = 0; round < kFloodRounds; ++round) {
        for (qsizetype i = 0; i < names.size(); ++i) {
            const qsizetype which = (i + round) % names.size();
            QTemporaryDir dir;
            const QString log = dir.filePath(QStringLiteral("flood.bin"));
            {
                auto terminal = startTerminal(names[which], log);
                rates[size_t(which)].push_back(terminal->ready() ? terminal->flood(bytes) : 0);
            }
            QFile file(log);
            logsEqual[size_t(which)] = logsEqual[size_t(which)] && file.open(QIODevice::ReadOnly) &&
                                       file.readAll() == bytes;
        }
    }
    std::printf("20 MB flood to the screen, each with its log (%d rounds):\n", kFloodRounds);
    for (qsizetype i = 0; i < names.size(); ++i)
        std::printf("  %-10s median %6.1f MB/s; log %s\n", qPrintable(names[i]),
                    bench::median(rates[size_t(i)]),
                    logsEqual[size_t(i)] ? "complete and equal" : "NOT EQUAL");
    for (qsizetype i = 1; i < names.size(); ++i)
        std::printf("  kalvosan / %s: ratio %.2f%s\n", qPrintable(names[i]),
                    bench::median(rates[0]) / bench::median(rates[size_t(i)]),
                    names[i] == QLatin1String("tio") ? " (target >= 0.9)" : "");
}

} // namespace

int main(int argc, char **argv) {
    bench::Environment environment;
    QCoreApplication app(argc, argv);
    QStringList names{QStringLiteral("kalvosan")};
    for (const char *other : {"tio", "picocom"}) {
        if (!QStandardPaths::findExecutable(QLatin1String(other)).isEmpty())
            names << QLatin1String(other);
        else
            std::printf("%s is not installed (make deps): not compared\n", other);
    }
    // "latency" or "flood" alone runs just that part (rounds of before and after, alternated).
    const QString only = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (only != QLatin1String("flood"))
        latencies(names);
    if (only != QLatin1String("latency"))
        flood(names);
    return 0;
}
