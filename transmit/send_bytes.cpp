#include "transmit/send_bytes.h"

#include "platform/files.h"

#include <QRegularExpression>

namespace transmit {

namespace {

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(char c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

// The two hex digits at `at`, or -1.
int hexPair(const QByteArray &text, qsizetype at) {
    if (at + 1 >= text.size() || !isHexDigit(text[at]) || !isHexDigit(text[at + 1]))
        return -1;
    return hexValue(text[at]) * 16 + hexValue(text[at + 1]);
}

// The byte of the escape "\c", or -1 for an escape there is not.
int escapedByte(char c) {
    switch (c) {
    case 'r':
        return '\r';
    case 'n':
        return '\n';
    case 't':
        return '\t';
    case '\\':
        return '\\';
    default:
        return -1;
    }
}

} // namespace

std::optional<QByteArray> bytesFromHex(const QString &text) {
    QByteArray bytes;
    for (const QString &group :
         text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
        const bool prefixed = group.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
        const QByteArray digits = group.mid(prefixed ? 2 : 0).toLatin1();
        if (digits.isEmpty() || digits.size() % 2 != 0)
            return std::nullopt;
        for (qsizetype at = 0; at < digits.size(); at += 2) {
            const int value = hexPair(digits, at);
            if (value < 0)
                return std::nullopt;
            bytes.append(char(value));
        }
    }
    if (bytes.isEmpty())
        return std::nullopt;
    return bytes;
}

std::optional<QByteArray> bytesFromEscapedText(const QString &text) {
    const QByteArray utf8 = platform::encodeBytes(text);
    QByteArray bytes;
    for (qsizetype at = 0; at < utf8.size(); ++at) {
        if (utf8[at] != '\\') {
            bytes.append(utf8[at]);
            continue;
        }
        const char escape = at + 1 < utf8.size() ? utf8[at + 1] : '\0';
        const int value = escape == 'x' ? hexPair(utf8, at + 2) : escapedByte(escape);
        if (value < 0)
            return std::nullopt;
        bytes.append(char(value));
        at += escape == 'x' ? 3 : 1;
    }
    return bytes;
}

} // namespace transmit
