// Figures shared by the benchmarks: medians, percentiles and one line of report per figure.
#pragma once

#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace bench {

// Set up before the QApplication: offscreen unless a platform is named, the settings in a
// folder of the run's own (never the user's), message boxes on stderr instead of on screen.
class Environment {
public:
    Environment() {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
        qputenv("KALVOSAN_NONINTERACTIVE", "1");
    }

private:
    QTemporaryDir m_config;
};

// The machine's load average over the last minute, five and fifteen, as /proc/loadavg has it:
// figures of time mean little when other work shares the cores.
inline QString loadAverage() {
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readLine()).section(u' ', 0, 2);
}

// p from 0 (the least) to 1 (the most), nearest rank.
inline double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const auto index = static_cast<std::size_t>(p * double(v.size() - 1) + 0.5);
    return v[std::min(index, v.size() - 1)];
}

inline double median(const std::vector<double> &v) {
    return percentile(v, 0.5);
}

// "name  median x ms (min, max; target < t ms)"; targetMs 0 for a figure without a target.
inline void report(const char *name, const std::vector<double> &ms, double targetMs,
                   int nameWidth = 48) {
    const double m = median(ms);
    std::printf("%-*s median %8.3f ms  (min %.3f, max %.3f", nameWidth, name, m,
                percentile(ms, 0.0), percentile(ms, 1.0));
    if (targetMs > 0)
        std::printf("; target < %.0f ms)%s\n", targetMs, m < targetMs ? "" : "  OVER TARGET");
    else
        std::printf(")\n");
}

} // namespace bench
