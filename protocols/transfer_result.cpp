#include "protocols/transfer_result.h"

namespace protocols {

namespace {

QString filesText(const TransferResult &result) {
    QStringList parts;
    for (const FileOutcome &file : result.files)
        parts << QStringLiteral("%1, %2 bytes").arg(file.name).arg(file.size);
    return parts.join(QStringLiteral("; "));
}

QString rate(qint64 bytes, qint64 elapsedMs) {
    const double perSecond = elapsedMs > 0 ? double(bytes) * 1000.0 / double(elapsedMs) : 0;
    if (perSecond >= 1e6)
        return QStringLiteral("%1 MB/s").arg(perSecond / 1e6, 0, 'f', 1);
    return QStringLiteral("%1 kB/s").arg(perSecond / 1e3, 0, 'f', 1);
}

} // namespace

QString endText(const TransferResult &result) {
    QString text = result.reason;
    if (result.complete && !result.files.empty())
        text += QStringLiteral(": ") + filesText(result);
    if (result.complete && result.padded)
        text += QStringLiteral(" (XMODEM sends no length: the file ends with the padding of its "
                               "last block)");
    for (const FileOutcome &file : result.files) {
        if (!file.note.isEmpty())
            text += QStringLiteral("\n") + file.note;
        if (!file.complete && result.direction == Direction::Receive)
            text += QStringLiteral("\n%1 holds the %2 bytes that arrived")
                        .arg(file.path)
                        .arg(file.size);
    }
    return text;
}

QString progressText(const TransferProgress &progress) {
    QString text = QStringLiteral("block %1, ").arg(progress.counts.block);
    if (progress.size >= 0)
        text += QStringLiteral("%1 of %2 bytes").arg(progress.counts.bytes).arg(progress.size);
    else
        text += QStringLiteral("%1 bytes").arg(progress.counts.bytes);
    text += QStringLiteral(", %1 retries, %2")
                .arg(progress.counts.retries)
                .arg(rate(progress.counts.total, progress.elapsedMs));
    return text;
}

} // namespace protocols
