// Reading the editor's bytes back from its hex lines: the list is the buffer, and the bytes
// are the filled cells in line order up to the first blank cell.
#pragma once

#include <QByteArray>
#include <QStringList>
#include <cstdint>
#include <optional>

// Stores the bytes at offsets start (included) to end (excluded) into buffer and returns how
// many it stored. Reading begins on the line that holds start and stops at the first blank
// cell, also one before start on that line (such a range gives 0), and at the end of the lines. A
// cell position past the end of a line counts as blank. Digits are not validated: a character from
// "A" up counts its code minus 55, any other its code minus 48. A negative start counts as 0. The
// buffer must hold collectCapacity(lines.size(), start, end) bytes.
int CollectBytes(const QStringList &lines, int start, int end, std::uint8_t *buffer);

// min(end, 16 * lineCount) - start: the buffer size CollectBytes may fill. Negative when start
// lies beyond the bytes the lines can hold; callers report that as "Insufficient Memory..".
int collectCapacity(int lineCount, int start, int end);

// The bytes of CollectBytes in a buffer of their own; empty when the buffer cannot be had (no
// memory, or a start beyond the bytes the lines can hold): "Insufficient Memory..".
std::optional<QByteArray> collectRange(const QStringList &lines, int start, int end);
