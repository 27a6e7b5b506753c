#include "hexedit/find_logic.h"

#include "loader/hexline.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace {

constexpr int kWindowLines = 3;

// Upper case one character at a time, so that every character keeps its place (a whole-string
// conversion may turn one character into two) and window positions map back to columns.
QString upperEachChar(QString text) {
    for (QChar &c : text)
        c = c.toUpper();
    return text;
}

// One line reduced to the part the search looks at, with the column each character came from.
struct LinePart {
    std::u16string text;
    std::vector<int> columns;
    int line = -1;
};

void reduceLine(const QString &line, bool asciiMode, bool upperCase, LinePart &part) {
    part.text.clear();
    part.columns.clear();
    if (asciiMode) {
        for (int column = hexline::kAsciiColumn; column < line.size(); ++column) {
            part.text.push_back(
                (upperCase ? line.at(column).toUpper() : line.at(column)).unicode());
            part.columns.push_back(column);
        }
        return;
    }
    const int last = std::min<int>(line.size(), hexline::kHexAreaFirst + hexline::kHexAreaLength);
    for (int column = hexline::kHexAreaFirst; column < last; ++column) {
        if (line.at(column) != u' ') {
            part.text.push_back(line.at(column).unicode());
            part.columns.push_back(column);
        }
    }
}

// The cell at a column: 0..31 for the digits, 32..47 for the ASCII characters, -1 elsewhere.
int cellAt(int column) {
    if (column >= hexline::kAsciiColumn)
        return 2 * hexline::kBytesPerLine + column - hexline::kAsciiColumn;
    for (int j = 0; j < hexline::kBytesPerLine; ++j) {
        if (column == hexline::highDigitColumn(j) || column == hexline::highDigitColumn(j) + 1)
            return 2 * j + (column - hexline::highDigitColumn(j));
    }
    return -1;
}

// The search window of line `first`: the parts of lines first..first+2, as many as exist.
// Moving on by one line reduces just the one line that comes in, so that each line is reduced
// once per search rather than once for every window that holds it.
class WindowScanner {
public:
    WindowScanner(const QStringList &lines, bool asciiMode, bool upperCase)
        : m_lines(lines), m_asciiMode(asciiMode), m_upperCase(upperCase) {}

    void moveTo(int first) {
        m_first = first;
        m_count = std::min<int>(kWindowLines, int(m_lines.size()) - first);
        m_text.clear();
        for (int k = 0; k < m_count; ++k) {
            const LinePart &p = part(first + k);
            m_start[k] = int(m_text.size());
            m_text += p.text;
        }
    }
    int lastLine() const { return m_first + m_count - 1; }

    // The first occurrence at `from` or later; a hex hit has to begin a byte, not straddle two.
    int find(const QString &text, int from) const {
        const QStringView window(m_text);
        for (qsizetype at = window.indexOf(text, std::max(from, 0)); at >= 0;
             at = window.indexOf(text, at + 1)) {
            if (m_asciiMode || cellAt(columnAt(int(at))) % 2 == 0)
                return int(at);
        }
        return -1;
    }

    FindResult hitAt(int at) const {
        const int k = partHolding(at);
        return {true, m_first + k, cellAt(columnAt(at))};
    }

    // The state for going on at window position `next`: findLine becomes the line before the
    // one that position lies in, findPos the position within that line's part.
    FindState stateAt(int next) const {
        if (next >= int(m_text.size()))
            return {lastLine(), 0};
        const int k = partHolding(next);
        return {m_first + k - 1, next - m_start[k]};
    }

private:
    const LinePart &part(int line) {
        LinePart &p = m_parts[std::size_t(line % kWindowLines)];
        if (p.line != line) {
            reduceLine(m_lines.at(line), m_asciiMode, m_upperCase, p);
            p.line = line;
        }
        return p;
    }
    const LinePart &partOf(int k) const {
        return m_parts[std::size_t((m_first + k) % kWindowLines)];
    }
    int partHolding(int position) const {
        int k = 0;
        while (position >= m_start[k] + int(partOf(k).text.size()))
            ++k;
        return k;
    }
    int columnAt(int position) const {
        const int k = partHolding(position);
        return partOf(k).columns[std::size_t(position - m_start[k])];
    }

    const QStringList &m_lines;
    const bool m_asciiMode;
    const bool m_upperCase;
    std::array<LinePart, kWindowLines> m_parts;
    std::u16string m_text;
    int m_start[kWindowLines] = {};
    int m_first = 0;
    int m_count = 0;
};

} // namespace

QString prepareFindText(const QString &text, bool asciiMode, bool caseSensitive) {
    QString prepared = asciiMode ? text : QString(text).remove(u' ');
    prepared.truncate(kMaxFindLength);
    if (!asciiMode || !caseSensitive)
        prepared = upperEachChar(prepared);
    if (!asciiMode && prepared.size() % 2 != 0)
        prepared.chop(1);
    return prepared;
}

bool acceptableHexFindText(const QString &text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return c == u' ' || (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') ||
               (c >= u'A' && c <= u'F');
    });
}

FindResult findNext(const QStringList &lines, const QString &prepared, bool asciiMode,
                    bool caseSensitive, FindState &state) {
    if (prepared.isEmpty()) {
        state = {};
        return {};
    }
    const int step = asciiMode ? 1 : 2; // the next search starts at the hit's second byte
    WindowScanner scanner(lines, asciiMode, asciiMode && !caseSensitive);
    for (int first = state.findLine + 1; first < lines.size(); ++first) {
        scanner.moveTo(first);
        const int at = scanner.find(prepared, state.findPos);
        if (at >= 0) {
            state = scanner.stateAt(at + step);
            return scanner.hitAt(at);
        }
        state = {first, 0};
    }
    state = {};
    return {};
}
