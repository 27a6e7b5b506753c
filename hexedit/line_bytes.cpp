#include "hexedit/line_bytes.h"

#include "loader/hexline.h"

#include <algorithm>
#include <limits>
#include <new>

namespace {

QChar charAt(const QString &line, int column) {
    return column < line.size() ? line.at(column) : QChar(u' ');
}

int digitValue(QChar c) {
    return c >= u'A' ? c.unicode() - 55 : c.unicode() - 48;
}

} // namespace

int CollectBytes(const QStringList &lines, int start, int end, std::uint8_t *buffer) {
    int line = std::max(start, 0) / hexline::kBytesPerLine;
    int offset = hexline::kBytesPerLine * line;
    int n = 0;
    for (; line < lines.size(); ++line) {
        const QString &text = lines.at(line);
        for (int j = 0; j < hexline::kBytesPerLine; ++j) {
            const int column = hexline::highDigitColumn(j);
            const QChar high = charAt(text, column);
            const QChar low = charAt(text, column + 1);
            if (high == u' ' || low == u' ' || offset >= end)
                return n;
            if (offset >= start)
                buffer[n++] =
                    static_cast<std::uint8_t>((16 * digitValue(high) + digitValue(low)) & 0xFF);
            ++offset;
        }
    }
    return n;
}

std::optional<QByteArray> collectRange(const QStringList &lines, int start, int end) {
    const int capacity = collectCapacity(int(lines.size()), start, end);
    if (capacity < 0)
        return std::nullopt;
    QByteArray bytes;
    try {
        bytes = QByteArray(capacity, '\0');
    } catch (const std::bad_alloc &) {
        return std::nullopt;
    }
    bytes.truncate(CollectBytes(lines, start, end, reinterpret_cast<std::uint8_t *>(bytes.data())));
    return bytes;
}

int collectCapacity(int lineCount, int start, int end) {
    const qint64 held = qint64(hexline::kBytesPerLine) * lineCount;
    const qint64 size = std::min<qint64>(end, held) - start;
    return int(
        std::clamp<qint64>(size, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}
