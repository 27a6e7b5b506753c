#include "cli/progress_line.h"

#include "cli/command_line.h"

#include <cstdio>
#include <unistd.h>

namespace cli {

namespace {

constexpr qint64 kShowEveryMs = 250;

QString rateText(qint64 bytes, qint64 elapsedMs) {
    const double perSecond = elapsedMs > 0 ? bytes * 1000.0 / elapsedMs : 0;
    if (perSecond >= 1e6)
        return QStringLiteral("%1 MB/s").arg(perSecond / 1e6, 0, 'f', 1);
    return QStringLiteral("%1 kB/s").arg(perSecond / 1e3, 0, 'f', 1);
}

} // namespace

ProgressLine::ProgressLine() : m_enabled(::isatty(STDERR_FILENO) == 1 && !quiet()) {
    m_clock.start();
}

void ProgressLine::show(const QString &text) {
    if (!m_enabled || (m_shown && m_sinceShown.elapsed() < kShowEveryMs))
        return;
    write(text);
}

void ProgressLine::finish(const QString &text) {
    if (!m_enabled)
        return;
    write(text);
    std::fputs(messageLineEnd(), stderr);
}

void ProgressLine::write(const QString &text) {
    // Blanks cover the rest of a longer text shown before.
    const QString line = text.leftJustified(m_width);
    std::fprintf(stderr, "\r%s", line.toLocal8Bit().constData());
    std::fflush(stderr);
    m_width = text.size();
    m_shown = true;
    m_sinceShown.start();
}

QString captureProgressText(qint64 count, qint64 elapsedMs) {
    return QStringLiteral("%1 bytes, %2").arg(count).arg(rateText(count, elapsedMs));
}

QString sendProgressText(qint64 sent, qint64 length, qint64 elapsedMs) {
    if (length < 0)
        return captureProgressText(sent, elapsedMs);
    const qint64 percent = length > 0 ? sent * 100 / length : 100;
    return QStringLiteral("%1 of %2 bytes, %3 %, %4")
        .arg(sent)
        .arg(length)
        .arg(percent)
        .arg(rateText(sent, elapsedMs));
}

} // namespace cli
