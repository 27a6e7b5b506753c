// YMODEM's block 0: the file's name, length and modification time, and the empty block 0 that
// ends a batch. The name comes from the other side: it is reduced to a plain file name before
// anything is created with it.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace protocols {

struct FileHeader {
    QByteArray name;  // as sent; empty in the block that ends the batch
    qint64 size = -1; // -1: not given
    qint64 mtime = 0; // seconds since 1970; 0: not given
};

// The block's data: the name, a NUL, the length in decimal and the time in octal, a NUL. Longer
// than 128 bytes only for a long name (the block is then one of 1024).
QByteArray headerBytes(const FileHeader &header);

// The header in a received block 0, or none when the block has no NUL ending the name. Fields
// that are not numbers are taken as not given.
std::optional<FileHeader> parseHeader(const char *data, qsizetype size);

struct SafeName {
    QString name;
    bool changed = false; // the name as sent was not a plain file name
};

// A name that can only ever be a file in the folder it is put in: the last part after any "/"
// or "\", control characters and bytes that are no text made "_", leading dots dropped, at most
// 200 bytes; "received.bin" when nothing is left.
SafeName safeFileName(const QByteArray &sent);

// The name as sent, for a message: control characters shown as \n, \xHH.
QString printableName(const QByteArray &sent);

} // namespace protocols
