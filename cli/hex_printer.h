// Bytes as the editor pane's hex lines (the loader's line format) on a stream: a line is
// printed when it has its 16 bytes, the last partial one when the bytes end. The offsets
// count from 0 across everything added.
#pragma once

#include "loader/arrival_times.h"
#include "loader/hexline.h"

#include <QtGlobal>
#include <cstdint>
#include <cstdio>

namespace cli {

class HexPrinter {
public:
    explicit HexPrinter(std::FILE *out) : m_out(out) {}
    // Prints every line these bytes complete, and flushes the stream: a reader at the other
    // end of a pipe sees each line as it is complete.
    void add(const char *data, qint64 size);
    // Prints the partial line, if any.
    void finish();
    // Starts again at offset 0, dropping a partial line.
    void restart();
    // The bursts of the file's arrival times, known so far (a list that only grows): before a
    // line that holds the first byte of a burst, a line "# <time>" (and " reconnected").
    void setArrivalTimes(QList<arrival::Burst> bursts) { m_bursts = std::move(bursts); }

private:
    void printLine(const std::uint8_t *bytes, int count);

    void printArrivals(qint64 lineStart, int count);

    std::FILE *m_out;
    QList<arrival::Burst> m_bursts;
    qsizetype m_nextBurst = 0;
    int m_lineCount = 0;
    int m_pendingCount = 0;
    std::uint8_t m_pending[hexline::kBytesPerLine] = {};
};

} // namespace cli
