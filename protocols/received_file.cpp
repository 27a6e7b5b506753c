#include "protocols/received_file.h"

#include "capture/capture_naming.h"
#include "platform/files.h"

#include <QDateTime>
#include <QFileInfo>
#include <cerrno>

namespace protocols {

namespace {

// Names tried before giving up on a directory full of them.
constexpr int kMostNames = 1000;

bool taken(const QString &path) {
    return QFileInfo::exists(path) || QFileInfo(path).isSymLink();
}

} // namespace

QString nextFreeName(const QString &name, const QString &asked, int attempt) {
    if (advanceCaptureFileName(asked) != asked)
        return advanceCaptureFileName(name);
    qsizetype dot = asked.indexOf(u'.');
    if (dot < 0)
        dot = asked.size();
    return asked.left(dot) + QStringLiteral("-%1").arg(attempt) + asked.mid(dot);
}

QString ReceivedFile::create(const QString &directory, const QString &name) {
    m_directory = directory;
    m_size = 0;
    QString candidate = name;
    for (int attempt = 1;; ++attempt) {
        m_name = candidate;
        const QString final = capturePath(directory, candidate);
        m_path = final + kPartSuffix;
        int error = 0;
        if (!taken(final) && platform::openHeld(m_file, m_path, platform::Creation::New, &error))
            return {};
        if (taken(final))
            error = EEXIST;
        const bool inUse = error == EEXIST || error == EWOULDBLOCK;
        const QString next = nextFreeName(candidate, name, attempt);
        if (!inUse || next == candidate || attempt == kMostNames)
            return QStringLiteral("Could not open file ") + m_path + QStringLiteral(": ") +
                   platform::errorText(error);
        candidate = next;
    }
}

bool ReceivedFile::write(const QByteArray &bytes) {
    if (m_file.write(bytes) != bytes.size())
        return false;
    m_size += bytes.size();
    return true;
}

QString ReceivedFile::name() const {
    return QFileInfo(m_path).fileName();
}

QString ReceivedFile::complete(qint64 mtime) {
    if (mtime > 0)
        m_file.setFileTime(QDateTime::fromSecsSinceEpoch(mtime), QFileDevice::FileModificationTime);
    if (!m_file.flush()) {
        m_file.close();
        return QStringLiteral("Could not write file ") + m_path;
    }
    m_file.close();
    QString candidate = m_name;
    for (int attempt = 1; attempt <= kMostNames; ++attempt) {
        const QString final = capturePath(m_directory, candidate);
        int error = 0;
        if (platform::renameWithoutReplacing(m_path, final, &error)) {
            m_path = final;
            m_name = candidate;
            return {};
        }
        const QString next = nextFreeName(candidate, m_name, attempt);
        if (error != EEXIST || next == candidate)
            return QStringLiteral("Could not rename file ") + m_path + QStringLiteral(": ") +
                   platform::errorText(error);
        candidate = next;
    }
    return QStringLiteral("Could not rename file ") + m_path;
}

void ReceivedFile::abandon() {
    m_file.close();
}

} // namespace protocols
