#include "term/escape_keys.h"

namespace term {

std::optional<char> escapeKeyFromName(const QString &name) {
    if (name.size() != 1)
        return std::nullopt;
    const char16_t c = name.at(0).toUpper().unicode();
    if (c >= u'@' && c <= u'_')
        return char(c & 0x1f);
    return std::nullopt;
}

QString escapeKeyName(char key) {
    return QStringLiteral("Ctrl-") + QChar(char16_t(key | 0x40));
}

KeyAction EscapeKeys::feed(char key) {
    if (m_pending) {
        m_pending = false;
        if (key == *m_escape)
            return {KeyAction::Kind::Send, key};
        return {KeyAction::Kind::Command, key};
    }
    if (m_escape && key == *m_escape) {
        m_pending = true;
        return {KeyAction::Kind::Held, key};
    }
    return {KeyAction::Kind::Send, key};
}

} // namespace term
