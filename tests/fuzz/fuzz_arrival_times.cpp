// A times file beside a capture, as the hex pane's tooltip and hex --times read it: line by
// line, as a stream, and searched by its offsets.
#include "loader/arrival_times.h"
#include "tests/fuzz/fuzz_files.h"
#include "tests/fuzz/fuzz_target.h"

#include <QFile>
#include <cstdlib>

KV_FUZZ_TARGET(arrival_times) {
    const QByteArray text =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const QByteArray &line : text.split('\n'))
        arrival::parseLine(line);
    const QString path = kvfuzz::scratchFile(data, size, ".times");
    arrival::SidecarStream stream(path);
    qint64 previous = -1;
    for (auto burst = stream.next(); burst; burst = stream.next()) {
        if (burst->offset < 0)
            std::abort();
        previous = burst->offset;
    }
    for (qint64 offset : {qint64(0), qint64(1), previous, qint64(size) * 7, qint64(1) << 62}) {
        arrival::lookup(path, offset);
        arrival::lookupStretch(path, offset, offset + 16);
    }
    QFile::remove(path);
    return 0;
}
