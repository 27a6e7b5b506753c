// A file of the fuzzer's own, written anew with each input, for the readers that take a path.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

namespace kvfuzz {
// Writes the bytes to this process's scratch file and gives its path.
QString scratchFile(const std::uint8_t *data, std::size_t size, const char *suffix);
} // namespace kvfuzz
