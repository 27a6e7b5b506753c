#include "protocols/zmodem_start.h"

namespace protocols {

namespace {

constexpr char kPrefix[] = {'*', '*', 0x18, 'B', '0'};
constexpr int kPrefixSize = int(sizeof kPrefix);

} // namespace

std::optional<ZmodemStart> ZmodemStartDetector::feed(const char *data, qsizetype size) {
    for (qsizetype i = 0; i < size; ++i) {
        const char byte = data[i];
        if (m_matched == kPrefixSize) {
            m_matched = 0;
            if (byte == '0')
                return ZmodemStart::Receive;
            if (byte == '1')
                return ZmodemStart::Send;
        }
        if (m_matched < kPrefixSize && byte == kPrefix[m_matched]) {
            ++m_matched;
        } else {
            // "***" still holds the start of "**": only '*' can restart the match.
            m_matched = byte == '*' ? (m_matched == 1 || m_matched == 2 ? 2 : 1) : 0;
        }
    }
    return std::nullopt;
}

} // namespace protocols
