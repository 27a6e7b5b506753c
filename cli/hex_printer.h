// Bytes as the editor pane's hex lines (the loader's line format) on a stream: a line is
// printed when it has its 16 bytes, the last partial one when the bytes end. The offsets
// count from 0 across everything added.
#pragma once

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

private:
    void printLine(const std::uint8_t *bytes, int count);

    std::FILE *m_out;
    int m_lineCount = 0;
    int m_pendingCount = 0;
    std::uint8_t m_pending[hexline::kBytesPerLine] = {};
};

} // namespace cli
