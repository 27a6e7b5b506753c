// What the core and command-line tests share: payloads and the sync with a starting capture,
// which drops the bytes waiting at its start by design.
#pragma once

#include "tests/test_pty.h"

#include <QByteArray>
#include <QFileInfo>
#include <QRandomGenerator>

namespace testsupport {

inline constexpr char kSync = '\x5A';

// Random bytes that never begin with a sync byte.
inline QByteArray randomPayload(qsizetype size, quint32 seed = 20240613) {
    QByteArray bytes(size, 0);
    QRandomGenerator rng(seed);
    for (char &b : bytes)
        b = char(rng.bounded(256));
    if (!bytes.isEmpty() && bytes.at(0) == kSync)
        bytes[0] = 'R';
    return bytes;
}

// Sends one sync byte at a time until the capture file holds one. Each wait is long enough
// that a byte the capture took is seen before the next goes out, so one lands, barely ever
// more.
inline bool syncCapture(Pty &pty, const QString &path, qint64 headerSize = 0) {
    for (int attempt = 0; attempt < 15; ++attempt) {
        pty.write(QByteArray(1, kSync));
        if (waitUntil([&] { return QFileInfo(path).size() > headerSize; }, 2000))
            return true;
    }
    return false;
}

// The bytes after the leading sync bytes.
inline QByteArray afterSync(const QByteArray &bytes) {
    qsizetype syncBytes = 0;
    while (syncBytes < bytes.size() && bytes.at(syncBytes) == kSync)
        ++syncBytes;
    return syncBytes > 0 ? bytes.mid(syncBytes) : QByteArray("no sync byte");
}

} // namespace testsupport
