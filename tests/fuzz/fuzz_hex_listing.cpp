// Any file listed by hex (and hex --times): the bytes in pieces of any size, with the same
// bytes as its times file.
#include "cli/hex_printer.h"
#include "tests/fuzz/fuzz_files.h"
#include "tests/fuzz/fuzz_target.h"

#include <QFile>
#include <cstdio>

KV_FUZZ_TARGET(hex_listing) {
    static std::FILE *const sink = std::fopen("/dev/null", "w");
    if (size == 0 || !sink)
        return 0;
    const QString path = kvfuzz::scratchFile(data, size, ".times");
    arrival::SidecarStream times(path);
    cli::HexPrinter printer(sink);
    printer.setArrivalTimes(data[0] & 1 ? &times : nullptr);
    const std::size_t piece = 1 + data[0] % 37;
    for (std::size_t at = 1; at < size; at += piece)
        printer.add(reinterpret_cast<const char *>(data + at), qint64(std::min(piece, size - at)));
    printer.finish();
    QFile::remove(path);
    return 0;
}
