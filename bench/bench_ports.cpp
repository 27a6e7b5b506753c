// Listing 1,000 serial devices: fake USB adapters in a sysfs and /dev of the run's own, each
// with a by-id and a by-path link; medians of 15 runs.
//  1. serial::listDevices alone;
//  2. with the lock files looked up as `ports --json` does; target < 100 ms (wall time, and the
//     thread's CPU time, which on a busy machine leaves out the time others took);
//  3. the whole `kalvosan-cli ports --json`, the program's start included, for comparison.
#include "bench/bench_stats.h"
#include "serial/device_list.h"
#include "serial/uucp_lock.h"
#include "tests/fake_sysfs.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

namespace {

constexpr int kDevices = 1000;
constexpr int kRuns = 15;

bool buildTree(testsupport::FakeSysfs &tree) {
    for (int i = 0; i < kDevices; ++i) {
        const QString name = QStringLiteral("ttyUSB%1").arg(i);
        const QString serial = QStringLiteral("A5%1").arg(i, 6, 10, QChar(u'0'));
        const testsupport::UsbAdapter adapter{QStringLiteral("0403"), QStringLiteral("6001"),
                                              QStringLiteral("FTDI"),
                                              QStringLiteral("FT232R USB UART"), serial};
        if (!tree.usbTty(name, adapter, i + 1) || !tree.node(name, {}) ||
            !tree.stableLink(QStringLiteral("by-id"),
                             QStringLiteral("usb-FTDI_FT232R_USB_UART_%1-if00-port0").arg(serial),
                             name) ||
            !tree.stableLink(QStringLiteral("by-path"),
                             QStringLiteral("pci-0000:00:14.0-usb-0:%1:1.0-port0").arg(i + 1),
                             name))
            return false;
    }
    return true;
}

double threadCpuMs() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

struct Times {
    std::vector<double> wall;
    std::vector<double> cpu; // this thread's: what other programs on a busy machine leave out
};

Times timeRuns(const std::function<bool()> &run) {
    Times ms;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer timer;
        const double cpu = threadCpuMs();
        timer.start();
        if (!run())
            return {};
        ms.wall.push_back(double(timer.nsecsElapsed()) / 1e6);
        ms.cpu.push_back(threadCpuMs() - cpu);
    }
    return ms;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    testsupport::FakeSysfs tree;
    QTemporaryDir locks;
    if (!buildTree(tree) || !locks.isValid()) {
        std::fprintf(stderr, "bench_ports: could not build the device tree\n");
        return 1;
    }
    const auto sysfs = timeRuns([&] {
        const QList<serial::DeviceInfo> devices = serial::listDevices(tree.sys(), tree.dev());
        return devices.size() == kDevices && devices.front().links.size() == 2;
    });
    const auto listing = timeRuns([&] {
        const QList<serial::DeviceInfo> devices = serial::listDevices(tree.sys(), tree.dev());
        int held = 0;
        for (const serial::DeviceInfo &device : devices)
            held += serial::lockHolder(device.path, {locks.path()}).has_value();
        return devices.size() == kDevices && devices.front().links.size() == 2 && held == 0;
    });
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    tree.addTo(environment);
    environment.insert(QStringLiteral("KALVOSAN_LOCK_DIR"), locks.path());
    const auto program = timeRuns([&] {
        QProcess cli;
        cli.setProcessEnvironment(environment);
        cli.start(QCoreApplication::applicationDirPath() + QStringLiteral("/kalvosan-cli"),
                  {QStringLiteral("ports"), QStringLiteral("--json")});
        return cli.waitForFinished(30000) && cli.exitCode() == 0 &&
               cli.readAllStandardOutput().count("\"path\"") == kDevices;
    });
    if (sysfs.wall.empty() || listing.wall.empty() || program.wall.empty()) {
        std::fprintf(stderr, "bench_ports: the listing missed devices\n");
        return 1;
    }
    std::printf("%d devices, each with a by-id and a by-path link\n", kDevices);
    bench::report("listDevices", sysfs.wall, 0);
    bench::report("listDevices and the lock files", listing.wall, 100);
    bench::report("  its CPU time", listing.cpu, 100);
    bench::report("kalvosan-cli ports --json (start included)", program.wall, 0);
    return 0;
}
