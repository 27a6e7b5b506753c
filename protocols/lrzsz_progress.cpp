#include "protocols/lrzsz_transfer.h"
#include "protocols/ymodem_header.h"

namespace protocols {

namespace {

// "  12288/ 300000 ..." after the label: the two numbers, or none.
bool numbers(const QByteArray &rest, qint64 &bytes, qint64 &size) {
    const qsizetype slash = rest.indexOf('/');
    if (slash < 0)
        return false;
    bool okBytes = false;
    bool okSize = false;
    bytes = rest.left(slash).trimmed().toLongLong(&okBytes);
    const QByteArray after = rest.mid(slash + 1).trimmed();
    size = after.left(after.indexOf(' ')).toLongLong(&okSize);
    return okBytes && okSize && bytes >= 0 && size >= 0;
}

} // namespace

bool LrzszProgress::feed(const char *data, qsizetype size) {
    bool changed = false;
    for (qsizetype i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '\r' || c == '\n') {
            changed = line(m_line) || changed;
            m_line.clear();
        } else if (m_line.size() < kMaxLine) {
            m_line.append(c);
        }
    }
    return changed;
}

bool LrzszProgress::line(const QByteArray &text) {
    const QByteArray trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return false;
    for (const char *label : {"Sending: ", "Receiving: "}) {
        if (trimmed.startsWith(label)) {
            // The name is the device's: shown, it must not steer the user's terminal.
            m_file = printableName(trimmed.mid(qsizetype(qstrlen(label))));
            m_bytes = 0;
            m_size = -1;
            ++m_files;
            return true;
        }
    }
    for (const char *label : {"Bytes Sent:", "Bytes received:"}) {
        qint64 bytes = 0;
        qint64 size = 0;
        if (trimmed.startsWith(label) &&
            numbers(trimmed.mid(qsizetype(qstrlen(label))), bytes, size)) {
            m_bytes = bytes;
            m_size = size;
            return true;
        }
    }
    m_lastWords = printableName(trimmed);
    return false;
}

} // namespace protocols
