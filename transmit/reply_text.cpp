#include "transmit/reply_text.h"

namespace {

constexpr int kGroupChars = 24; // 8 bytes
constexpr int kLineChars = 48;  // 16 bytes
constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";

} // namespace

QString ReplyText::append(const std::uint8_t *bytes, int n) {
    QString out;
    out.reserve(qsizetype(n) * 4 + 8);
    for (int i = 0; i < n; ++i) {
        const char16_t cell[] = {kHexDigits[bytes[i] >> 4], kHexDigits[bytes[i] & 0xF], u' '};
        for (char16_t c : cell) {
            out += c;
            ++m_length;
            if (m_length % kGroupChars == 0)
                out += QStringLiteral("  ");
            if (m_length % kLineChars == 0)
                out += QStringLiteral("\r\n");
        }
    }
    return out;
}
