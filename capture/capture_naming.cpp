#include "capture/capture_naming.h"

#include <QFileInfo>

#include <cerrno>

#include <array>

namespace {

bool isDecimalDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

} // namespace

QString advanceCaptureFileName(const QString &name) {
    qsizetype dot = name.indexOf(u'.');
    if (dot < 0)
        dot = name.size();
    qsizetype start = dot;
    while (start > 0 && isDecimalDigit(name.at(start - 1)))
        --start;
    QString result = name;
    // Adding one as decimal text: the carry runs left until a digit below 9 takes it; when it
    // runs out of the number, every digit has become 0, which is the wrap.
    for (qsizetype i = dot - 1; i >= start; --i) {
        if (result.at(i) != u'9') {
            result[i] = QChar(result.at(i).unicode() + 1);
            break;
        }
        result[i] = u'0';
    }
    return result;
}

bool captureHeaderRule(const QString &name) {
    static constexpr std::array<QLatin1StringView, 4> kExtensions{
        QLatin1StringView(".vmf"), QLatin1StringView(".vm1"), QLatin1StringView(".vm2"),
        QLatin1StringView(".vm3")};
    if (name.size() <= 6)
        return false;
    const QString tail = name.right(4);
    for (QLatin1StringView ext : kExtensions) {
        if (tail.compare(ext, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QByteArray captureHeader(const QString &name) {
    return captureHeaderRule(name) ? name.left(2).toLatin1() : QByteArray();
}

QString capturePath(const QString &dropDirectory, const QString &name) {
    return dropDirectory + u'/' + name;
}

QString openNumberedCapture(const QString &directory, QString &name, bool nameGiven,
                            const CaptureFileOpen &open) {
    // So far a capture looks for a name nobody has used.
    constexpr int kMostNamesTried = 1000;
    const platform::Creation creation =
        nameGiven ? platform::Creation::Replace : platform::Creation::New;
    for (int tried = 1;; ++tried) {
        int reason = 0;
        const QString error =
            open(capturePath(directory, name), captureHeader(name), creation, reason);
        if (error.isEmpty())
            return {};
        const QString next = advanceCaptureFileName(name);
        const bool inUse = reason == EEXIST || reason == EWOULDBLOCK;
        if (nameGiven || !inUse || next == name || tried == kMostNamesTried)
            return error + QStringLiteral(": ") + platform::errorText(reason);
        name = next;
    }
}

QString unusedCaptureFileName(const QString &dropDirectory, const QString &name, int mostTried) {
    QString candidate = name;
    for (int tried = 0; tried < mostTried; ++tried) {
        const QFileInfo file(capturePath(dropDirectory, candidate));
        if (!file.exists() || file.size() == 0 || !file.isFile())
            return candidate;
        const QString next = advanceCaptureFileName(candidate);
        if (next == candidate || next == name)
            break;
        candidate = next;
    }
    return name;
}
