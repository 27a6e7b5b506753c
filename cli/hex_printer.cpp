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
    m_nextBurst = 0;
    m_pendingCount = 0;
}

void HexPrinter::printArrivals(qint64 lineStart, int count) {
    for (; m_nextBurst < m_bursts.size(); ++m_nextBurst) {
        const arrival::Burst &burst = m_bursts.at(m_nextBurst);
        if (burst.offset >= lineStart + count)
            break;
        // A burst whose line went out before its time was known is not printed late.
        if (burst.offset >= lineStart)
            std::fprintf(m_out, "# %s%s\n", qPrintable(burst.time),
                         burst.reconnected ? " reconnected" : "");
    }
}

void HexPrinter::printLine(const std::uint8_t *bytes, int count) {
    printArrivals(qint64(m_lineCount) * hexline::kBytesPerLine, count);
    // Room for a label of up to eight digits; the line itself is plain ASCII.
    char16_t wide[hexline::kFullLength + 4];
    char narrow[sizeof wide / sizeof *wide + 1];
    const int length = hexline::formatLine(wide, m_lineCount, bytes, count);
    std::copy(wide, wide + length, narrow);
    narrow[length] = '\n';
    std::fwrite(narrow, 1, length + 1, m_out);
    ++m_lineCount;
}

} // namespace cli
