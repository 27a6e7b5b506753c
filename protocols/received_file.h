// A file that arrives by a protocol. It is written under "NAME.part" and takes its name only
// once it is complete, so that a transfer that fails never leaves a file that looks complete;
// NAME is the first name from the one asked for on that neither it nor its ".part" is taken
// (nothing is ever replaced).
#pragma once

#include <QFile>
#include <QString>

namespace protocols {

inline const QString kPartSuffix = QStringLiteral(".part");

// The name to try after `name`, the attempt-th tried for `asked`, was taken: a number before the
// first "." counts up as capture names do (data000001.bin); a name asked for without one gets
// "-1", "-2"... before its first ".".
QString nextFreeName(const QString &name, const QString &asked, int attempt);

class ReceivedFile {
public:
    // Creates the ".part" file of the first free name from `name` in `directory`; empty, or
    // "Could not open file PATH: reason".
    QString create(const QString &directory, const QString &name);
    bool isOpen() const { return m_file.isOpen(); }
    bool write(const QByteArray &bytes);
    qint64 size() const { return m_size; }
    // Where the bytes are now: the ".part" file, or the complete file.
    const QString &path() const { return m_path; }
    QString name() const;
    // The file is complete: closed, given its modification time (seconds since 1970, 0 for
    // none) and its name, the next free one should it have been taken meanwhile. Empty, or
    // what failed (the bytes then stay under the ".part" name).
    QString complete(qint64 mtime);
    // The transfer failed: the bytes stay under the ".part" name.
    void abandon();

private:
    QFile m_file;
    QString m_directory;
    QString m_name;
    QString m_path;
    qint64 m_size = 0;
};

} // namespace protocols
