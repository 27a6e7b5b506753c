#include "term/screen_view.h"

#include <QDateTime>

#include <algorithm>
#include <cstdio>

namespace term {

std::optional<LineEnd> lineEndFromName(const QString &name) {
    const QString lower = name.toLower();
    if (lower == QLatin1String("cr"))
        return LineEnd::Cr;
    if (lower == QLatin1String("lf"))
        return LineEnd::Lf;
    if (lower == QLatin1String("crlf"))
        return LineEnd::CrLf;
    return std::nullopt;
}

QByteArray lineEndBytes(LineEnd end) {
    switch (end) {
    case LineEnd::Cr:
        return QByteArrayLiteral("\r");
    case LineEnd::Lf:
        return QByteArrayLiteral("\n");
    case LineEnd::CrLf:
        break;
    }
    return QByteArrayLiteral("\r\n");
}

QByteArray mapOutgoing(const char *data, qint64 size, char enter, LineEnd end) {
    const QByteArray replacement = lineEndBytes(end);
    QByteArray out;
    out.reserve(size);
    for (qint64 i = 0; i < size; ++i) {
        if (data[i] == enter)
            out += replacement;
        else
            out += data[i];
    }
    return out;
}

std::optional<Stamps> stampsFromName(const QString &name) {
    const QString lower = name.toLower();
    if (lower == QLatin1String("wall"))
        return Stamps::Wall;
    if (lower == QLatin1String("start"))
        return Stamps::SinceStart;
    if (lower == QLatin1String("delta"))
        return Stamps::SincePrevious;
    return std::nullopt;
}

Stamps nextStamps(Stamps stamps) {
    switch (stamps) {
    case Stamps::Off:
        return Stamps::Wall;
    case Stamps::Wall:
        return Stamps::SinceStart;
    case Stamps::SinceStart:
        return Stamps::SincePrevious;
    case Stamps::SincePrevious:
        break;
    }
    return Stamps::Off;
}

QString stampsName(Stamps stamps) {
    switch (stamps) {
    case Stamps::Off:
        return QStringLiteral("off");
    case Stamps::Wall:
        return QStringLiteral("wall clock");
    case Stamps::SinceStart:
        return QStringLiteral("seconds since the start");
    case Stamps::SincePrevious:
        break;
    }
    return QStringLiteral("seconds since the previous line");
}

QByteArray stampText(Stamps stamps, WallClock::time_point when, WallClock::time_point since) {
    using std::chrono::milliseconds;
    if (stamps == Stamps::Off)
        return {};
    if (stamps == Stamps::Wall) {
        const qint64 ms = std::chrono::duration_cast<milliseconds>(when.time_since_epoch()).count();
        return '[' +
               QDateTime::fromMSecsSinceEpoch(ms)
                   .toString(QStringLiteral("HH:mm:ss.zzz"))
                   .toLatin1() +
               "] ";
    }
    // A clock set back shows no negative time.
    const qint64 ms =
        std::max<qint64>(0, std::chrono::duration_cast<milliseconds>(when - since).count());
    char text[40];
    std::snprintf(text, sizeof text, "[%lld.%03lld] ", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
    return text;
}

ScreenView::ScreenView(const ViewSettings &settings, WallClock::time_point start)
    : m_settings(settings), m_start(start), m_previousLine(start), m_lastByte(start) {}

QByteArray ScreenView::render(const char *data, qint64 size, WallClock::time_point when) {
    QByteArray out;
    if (m_settings.hex)
        renderHex(data, size, when, out);
    else
        renderText(data, size, when, out);
    m_lastByte = when;
    return out;
}

QByteArray ScreenView::setHex(bool on) {
    if (on == m_settings.hex)
        return {};
    QByteArray out = endLine();
    m_settings.hex = on;
    return out;
}

QByteArray ScreenView::setStamps(Stamps stamps) {
    QByteArray out = stamps == m_settings.stamps ? QByteArray() : endLine();
    m_settings.stamps = stamps;
    return out;
}

QByteArray ScreenView::endLine() {
    const bool midLine = m_settings.hex ? m_hexColumn > 0 : !m_atLineStart;
    m_hexColumn = 0;
    m_atLineStart = true;
    m_afterCr = false;
    m_mapPendingCr = false;
    return midLine ? m_settings.newline : QByteArray();
}

void ScreenView::renderText(const char *data, qint64 size, WallClock::time_point when,
                            QByteArray &out) {
    if (!m_settings.mapIn) {
        for (qint64 i = 0; i < size; ++i)
            putText(data[i], when, out);
        return;
    }
    const QByteArray shown = lineEndBytes(*m_settings.mapIn);
    for (qint64 i = 0; i < size; ++i) {
        const char byte = data[i];
        // The LF of a CR LF, also when it comes in the next burst, is part of the one line end.
        const bool lfOfCrLf = byte == '\n' && m_mapPendingCr;
        m_mapPendingCr = byte == '\r';
        if (lfOfCrLf)
            continue;
        if (byte != '\r' && byte != '\n') {
            putText(byte, when, out);
            continue;
        }
        for (const char c : shown)
            putText(c, when, out);
    }
}

// A line starts after an LF, or after a CR that no LF follows.
void ScreenView::putText(char byte, WallClock::time_point when, QByteArray &out) {
    if (m_atLineStart && !(m_afterCr && byte == '\n')) {
        stamp(when, out);
        m_atLineStart = false;
    }
    out += byte;
    m_afterCr = byte == '\r';
    if (byte == '\r' || byte == '\n')
        m_atLineStart = true;
}

void ScreenView::renderHex(const char *data, qint64 size, WallClock::time_point when,
                           QByteArray &out) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    if (m_hexColumn > 0 && when - m_lastByte >= m_settings.gap) {
        out += m_settings.newline;
        m_hexColumn = 0;
    }
    for (qint64 i = 0; i < size; ++i) {
        const auto byte = static_cast<unsigned char>(data[i]);
        if (m_hexColumn == 0)
            stamp(when, out);
        else
            out += ' ';
        out += kDigits[byte >> 4];
        out += kDigits[byte & 15];
        if (++m_hexColumn == kHexBytesPerLine) {
            out += m_settings.newline;
            m_hexColumn = 0;
        }
    }
}

void ScreenView::stamp(WallClock::time_point when, QByteArray &out) {
    if (m_settings.stamps == Stamps::Off)
        return;
    out += stampText(m_settings.stamps, when,
                     m_settings.stamps == Stamps::SincePrevious ? m_previousLine : m_start);
    m_previousLine = when;
}

} // namespace term
