// Bytes as the editor pane's hex lines (the loader's line format) on a stream: a line is
// printed when it has its 16 bytes, the last partial one when the bytes end. Each line's label
// is the offset of its first byte, counted from 0 across everything added.
#pragma once

#include "loader/arrival_times.h"
#include "loader/hexline.h"

#include <QtGlobal>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

namespace cli {

// The width of the offset label that every line of a listing of `bytes` bytes shares: the
// editor pane's five digits, more for a listing beyond 1 MiB.
int labelWidthFor(qint64 bytes);
// The width for a listing whose length is not known (a file followed as it grows, a device):
// eight digits, 4 GiB.
inline constexpr int kOpenEndedLabelWidth = 8;

class HexPrinter {
public:
    // Where the text goes: all of it, or false when it could not be written.
    using Output = std::function<bool(const char *text, qint64 size)>;

    // Every line's label is zero-padded to at least `labelWidth` digits, so that the columns
    // line up through the whole listing.
    explicit HexPrinter(Output output, int labelWidth = hexline::kLabelLength)
        : m_output(std::move(output)), m_labelWidth(labelWidth) {}
    // To a stdio stream, flushed after every add and finish: a reader at the other end of a
    // pipe sees each line as it is complete.
    explicit HexPrinter(std::FILE *out, int labelWidth = hexline::kLabelLength);

    // Prints every line these bytes complete. False when the output failed.
    bool add(const char *data, qint64 size);
    // Prints the partial line, if any; the next byte starts a line of its own, at its offset.
    bool finish();
    // Starts again at offset 0, dropping a partial line.
    void restart();
    // A line "# <text>" before the next line.
    void addComment(const QString &text);
    // The file's arrival times, read as the printing goes on: before a line that holds the
    // first byte of a burst, a line "# <time>" (and " reconnected"). None: no times.
    void setArrivalTimes(arrival::SidecarStream *times) { m_times = times; }

private:
    void printLine(const std::uint8_t *bytes, int count);
    void printArrivals(qint64 lineStart, int count);
    bool flush();
    // Room for `size` more characters at the end of the text not yet written out.
    char *room(std::size_t size);

    Output m_output;
    int m_labelWidth;
    arrival::SidecarStream *m_times = nullptr;
    std::optional<arrival::Burst> m_nextBurst; // read, not yet printed
    std::vector<char> m_text; // printed, not yet written out: the first m_used characters
    std::size_t m_used = 0;

    qint64 m_lineStart = 0; // the offset of the pending line's first byte
    int m_pendingCount = 0;
    std::uint8_t m_pending[hexline::kBytesPerLine] = {};
};

} // namespace cli
