// The editor send's temporary file, written so that nothing planted at its path is written
// through.
#pragma once

#include <QString>
#include <QtGlobal>

namespace transmit {

// Replaces whatever entry is at path (a file, a symbolic link, dangling too) by a new file with
// the given bytes. The new file is created exclusively, so a link planted between removal and
// creation makes this fail rather than write through it. False when the file could not be
// created or written in full.
bool writeFreshFile(const QString &path, const char *data, qint64 size);

} // namespace transmit
