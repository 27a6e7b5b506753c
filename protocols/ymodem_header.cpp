#include "protocols/ymodem_header.h"

#include <QList>
#include <QStringDecoder>
#include <limits>

namespace protocols {

namespace {

constexpr qsizetype kMaxNameBytes = 200;

// A run of digits in the base; none for no digits or a value too large.
std::optional<qint64> number(const QByteArray &field, int base) {
    if (field.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (const char c : field) {
        const int digit = c - '0';
        if (digit < 0 || digit >= base)
            return std::nullopt;
        if (value > (std::numeric_limits<qint64>::max() - digit) / base)
            return std::nullopt;
        value = value * base + digit;
    }
    return value;
}

bool isControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

} // namespace

QByteArray headerBytes(const FileHeader &header) {
    QByteArray bytes = header.name;
    bytes.append('\0');
    if (!header.name.isEmpty()) {
        bytes.append(QByteArray::number(header.size));
        if (header.mtime > 0)
            bytes.append(' ').append(QByteArray::number(header.mtime, 8));
        bytes.append('\0');
    }
    return bytes;
}

std::optional<FileHeader> parseHeader(const char *data, qsizetype size) {
    const QByteArray block = QByteArray::fromRawData(data, size);
    const qsizetype nameEnd = block.indexOf('\0');
    if (nameEnd < 0)
        return std::nullopt;
    FileHeader header;
    header.name = block.left(nameEnd);
    QByteArray rest = block.mid(nameEnd + 1);
    if (const qsizetype end = rest.indexOf('\0'); end >= 0)
        rest.truncate(end);
    const QList<QByteArray> fields = rest.split(' ');
    if (!fields.isEmpty())
        header.size = number(fields.at(0), 10).value_or(-1);
    if (fields.size() > 1)
        header.mtime = number(fields.at(1), 8).value_or(0);
    return header;
}

SafeName safeFileName(const QByteArray &sent) {
    qsizetype start = 0;
    for (qsizetype i = 0; i < sent.size(); ++i) {
        if (sent.at(i) == '/' || sent.at(i) == '\\')
            start = i + 1;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString name = decoder(sent.mid(start));
    QString clean;
    for (const char32_t c : name.toUcs4())
        clean.append(isControl(c) || c == 0xFFFD ? QString(u'_') : QString::fromUcs4(&c, 1));
    while (clean.startsWith(u'.'))
        clean.remove(0, 1);
    while (clean.toUtf8().size() > kMaxNameBytes)
        clean.chop(1);
    if (clean.isEmpty())
        clean = QStringLiteral("received.bin");
    return {clean, clean.toUtf8() != sent};
}

QString printableName(const QByteArray &sent) {
    QByteArray text;
    for (const char c : sent) {
        const auto byte = std::uint8_t(c);
        if (c == '\n')
            text += "\\n";
        else if (byte < 0x20 || byte == 0x7F)
            text += "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0');
        else
            text += c;
    }
    return QString::fromUtf8(text);
}

} // namespace protocols
