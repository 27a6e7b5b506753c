// YMODEM's block 0 as a device sends it: the header parsed, the name made a plain file name.
// A plain name never holds a folder, a control character or a leading dot, and is never empty.
#include "protocols/ymodem_header.h"
#include "tests/fuzz/fuzz_target.h"

#include <cstdlib>

KV_FUZZ_TARGET(ymodem_header) {
    const std::optional<protocols::FileHeader> header =
        protocols::parseHeader(reinterpret_cast<const char *>(data), qsizetype(size));
    if (!header)
        return 0;
    if (header->size < -1 || header->mtime < 0)
        std::abort();
    const protocols::SafeName safe = protocols::safeFileName(header->name);
    if (safe.name.isEmpty() || safe.name.startsWith(u'.') || safe.name.contains(u'/') ||
        safe.name.contains(u'\\') || safe.name.toUtf8().size() > 200)
        std::abort();
    for (const QChar c : safe.name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            std::abort();
    }
    (void)protocols::printableName(header->name);
    return 0;
}
