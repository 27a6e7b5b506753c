#include "cli/hex_printer.h"

#include <algorithm>
#include <cstring>

namespace cli {

void HexPrinter::add(const char *data, qint64 size) {
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
    std::fflush(m_out);
}

void HexPrinter::finish() {
    if (m_pendingCount > 0)
        printLine(m_pending, m_pendingCount);
    m_pendingCount = 0;
    std::fflush(m_out);
}

void HexPrinter::restart() {
    m_lineCount = 0;
    m_nextBurst.reset();
    m_pendingCount = 0;
    if (m_times)
        m_times->restart();
}

void HexPrinter::printArrivals(qint64 lineStart, int count) {
    while (m_times) {
        if (!m_nextBurst)
            m_nextBurst = m_times->next();
        if (!m_nextBurst || m_nextBurst->offset >= lineStart + count)
            break;
        // A burst whose line went out before its time was known is not printed late.
        if (m_nextBurst->offset >= lineStart)
            std::fprintf(m_out, "# %s%s\n", qPrintable(m_nextBurst->time),
                         m_nextBurst->reconnected ? " reconnected" : "");
        m_nextBurst.reset();
    }
}

void HexPrinter::printLine(const std::uint8_t *bytes, int count) {
    printArrivals(qint64(m_lineCount) * hexline::kBytesPerLine, count);
    // Room for a label of up to sixteen digits; the line itself is plain ASCII.
    char16_t wide[hexline::kFullLength + 12];
    char narrow[sizeof wide / sizeof *wide + 24];
    const int length = hexline::formatLine(wide, m_lineCount, bytes, count);
    const int label = length - hexline::kHexPartLength - count + hexline::kLabelLength;
    const int pad = std::max(0, std::min(m_labelWidth, 16) - label);
    std::fill(narrow, narrow + pad, '0');
    std::copy(wide, wide + length, narrow + pad);
    narrow[pad + length] = '\n';
    std::fwrite(narrow, 1, size_t(pad + length + 1), m_out);
    ++m_lineCount;
}

int labelWidthFor(qint64 bytes) {
    int digits = 1;
    for (quint64 last = bytes > 0 ? quint64(bytes - 1) : 0; last >= 16; last /= 16)
        ++digits;
    return std::max(digits, hexline::kLabelLength);
}

} // namespace cli
