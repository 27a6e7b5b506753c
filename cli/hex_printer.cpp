#include "cli/hex_printer.h"

#include <algorithm>
#include <cstring>
#include <iterator>

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
    m_text += "# ";
    m_text += text.toStdString();
    m_text += '\n';
}

bool HexPrinter::flush() {
    const bool written = m_text.empty() || m_output(m_text.data(), qint64(m_text.size()));
    m_text.clear();
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
    // The line after its label: formatted with a label of its own five characters, which the
    // offset replaces.
    char16_t wide[hexline::kFullLength];
    const int length = hexline::formatLine(wide, 0, bytes, count);
    char label[24];
    const int labelLength =
        std::snprintf(label, sizeof label, "%0*llX", std::clamp(m_labelWidth, 1, 16),
                      static_cast<long long>(m_lineStart));
    m_text.append(label, size_t(labelLength));
    std::copy(wide + hexline::kLabelLength, wide + length, std::back_inserter(m_text));
    m_text += '\n';
    m_lineStart += count;
}

int labelWidthFor(qint64 bytes) {
    int digits = 1;
    for (quint64 last = bytes > 0 ? quint64(bytes - 1) : 0; last >= 16; last /= 16)
        ++digits;
    return std::max(digits, hexline::kLabelLength);
}

} // namespace cli
