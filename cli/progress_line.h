// The progress line of a transfer on standard error: shown only when standard error is a
// terminal (a script or a log gets nothing) and not with -q, overwritten in place a few times a
// second, ended by a newline.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QtGlobal>

namespace cli {

class ProgressLine {
public:
    ProgressLine();
    // Replaces the shown text, at most every 250 ms.
    void show(const QString &text);
    // Shows the last text whatever the time, then the newline.
    void finish(const QString &text);
    // Milliseconds since the transfer began (this object was made).
    qint64 elapsedMs() const { return m_clock.elapsed(); }

private:
    void write(const QString &text);

    bool m_enabled = false;
    bool m_shown = false;
    qsizetype m_width = 0;
    QElapsedTimer m_clock;
    QElapsedTimer m_sinceShown;
};

// "12345 bytes, 1.2 kB/s"
QString captureProgressText(qint64 count, qint64 elapsedMs);
// "2048 of 4096 bytes, 50 %, 1.2 kB/s"; of a stream, whose length is not known (-1), as a
// capture's
QString sendProgressText(qint64 sent, qint64 length, qint64 elapsedMs);

} // namespace cli
