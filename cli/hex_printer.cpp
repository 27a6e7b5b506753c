#include "cli/hex_printer.h"

#include <algorithm>
#include <cstring>

namespace cli {

HexPrinter::HexPrinter(std::FILE *out, int labelWidth)
    : HexPrinter(
          [out](const char *text, qint64 size) {
              std::fwrite(text, 1, size_t(size), out);
              return std::fflush(out) == 0 && !std::ferror(out);
          },
          labelWidth) {}

bool HexPrinter::add(const char *data, qint64 size) {
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(data);
    while (size > 0) {
        // Whole lines straight from the caller's bytes.
        if (m_pendingCount == 0 && size >= hexline::kBytesPerLine) {
            printLine(bytes, hexline::kBytesPerLine);
            bytes += hexline::kBytesPerLine;
            size -= hexline::kBytesPerLine;
            continue;
        }
        const int take = int(std::min<qint64>(size, hexline::kBytesPerLine - m_pendingCount));
        std::memcpy(m_pending + m_pendingCount, bytes, take);
        m_pendingCount += take;
        bytes += take;
        size -= take;
        if (m_pendingCount == hexline::kBytesPerLine) {
            printLine(m_pending, m_pendingCount);
            m_pendingCount = 0;
        }
    }
    return flush();
}

bool HexPrinter::finish() {
    if (m_pendingCount > 0)
        printLine(m_pending, m_pendingCount);
    m_pendingCount = 0;
    return flush();
}

void HexPrinter::restart() {
    m_lineStart = 0;
    m_nextBurst.reset();
    m_pendingCount = 0;
    if (m_times)
        m_times->restart();
}

void HexPrinter::addComment(const QString &text) {
    const QByteArray line = "# " + text.toUtf8() + '\n';
    std::memcpy(room(std::size_t(line.size())), line.constData(), std::size_t(line.size()));
    m_used += std::size_t(line.size());
}

char *HexPrinter::room(std::size_t size) {
    if (m_used + size > m_text.size())
        m_text.resize(std::max(m_text.size() * 2, m_used + size));
    return m_text.data() + m_used;
}

bool HexPrinter::flush() {
    const bool written = m_used == 0 || m_output(m_text.data(), qint64(m_used));
    m_used = 0;
    return written;
}

void HexPrinter::printArrivals(qint64 lineStart, int count) {
    while (m_times) {
        // Times of bytes past the listing's end are not looked for.
        if (!m_nextBurst)
            m_nextBurst = m_times->next(arrival::bytesFor(lineStart + count));
        if (!m_nextBurst || m_nextBurst->offset >= lineStart + count)
            break;
        // A burst whose line went out before its time was known is not printed late.
        if (m_nextBurst->offset >= lineStart)
            addComment(m_nextBurst->time +
                       (m_nextBurst->reconnected ? QStringLiteral(" reconnected") : QString()));
        m_nextBurst.reset();
    }
}

void HexPrinter::printLine(const std::uint8_t *bytes, int count) {
    printArrivals(m_lineStart, count);
    constexpr int kLongestLabel = 16;
    char *const line = room(kLongestLabel + hexline::kFullLength + 1);
    // The label: the offset in hex, zero-padded to the listing's width.
    auto offset = static_cast<std::uint64_t>(m_lineStart);
    int digits = std::clamp(m_labelWidth, 1, kLongestLabel);
    while (digits < kLongestLabel && (offset >> (4 * digits)) != 0)
        ++digits;
    for (int i = digits - 1; i >= 0; --i, offset >>= 4)
        line[i] = "0123456789ABCDEF"[offset & 0xF];
    char *end = line + digits;
    end += hexline::formatCells(end, bytes, count);
    *end++ = '\n';
    m_used = std::size_t(end - m_text.data());
    m_lineStart += count;
}

int labelWidthFor(qint64 bytes) {
    int digits = 1;
    for (quint64 last = bytes > 0 ? quint64(bytes - 1) : 0; last >= 16; last /= 16)
        ++digits;
    return std::max(digits, hexline::kLabelLength);
}

} // namespace cli
