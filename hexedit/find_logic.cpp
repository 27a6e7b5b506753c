#include "hexedit/find_logic.h"

#include "loader/hexline.h"

#include <algorithm>
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

// The searched text of a few lines, with the line and column each character came from.
struct Window {
    QString text;
    std::vector<int> lineOf;
    std::vector<int> columnOf;
    int lastLine = -1;

    void add(QChar c, int line, int column) {
        text.append(c);
        lineOf.push_back(line);
        columnOf.push_back(column);
    }
};

void appendHexPart(Window &w, const QString &line, int index) {
    const int last = std::min<int>(line.size(), hexline::kHexAreaFirst + hexline::kHexAreaLength);
    for (int column = hexline::kHexAreaFirst; column < last; ++column) {
        if (line.at(column) != u' ')
            w.add(line.at(column), index, column);
    }
}

void appendAsciiPart(Window &w, const QString &line, int index, bool upperCase) {
    for (int column = hexline::kAsciiColumn; column < line.size(); ++column)
        w.add(upperCase ? line.at(column).toUpper() : line.at(column), index, column);
}

Window buildWindow(const QStringList &lines, int first, bool asciiMode, bool upperCase) {
    Window w;
    w.lastLine = std::min<int>(first + kWindowLines, lines.size()) - 1;
    for (int index = first; index <= w.lastLine; ++index) {
        if (asciiMode)
            appendAsciiPart(w, lines.at(index), index, upperCase);
        else
            appendHexPart(w, lines.at(index), index);
    }
    return w;
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

int findInWindow(const Window &w, const QString &text, int from, bool asciiMode) {
    for (qsizetype at = w.text.indexOf(text, std::max(from, 0)); at >= 0;
         at = w.text.indexOf(text, at + 1)) {
        // A hex hit has to begin a byte, not straddle two.
        if (asciiMode || cellAt(w.columnOf[at]) % 2 == 0)
            return int(at);
    }
    return -1;
}

// Moves the state to window position `next`: findLine becomes the line before the one that
// position lies in, findPos the position within that line's part.
void advanceTo(FindState &state, const Window &w, int next) {
    if (next >= w.text.size()) {
        state = {w.lastLine, 0};
        return;
    }
    const int line = w.lineOf[next];
    int partStart = next;
    while (partStart > 0 && w.lineOf[partStart - 1] == line)
        --partStart;
    state = {line - 1, next - partStart};
}

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
    for (int first = state.findLine + 1; first < lines.size(); ++first) {
        const Window w = buildWindow(lines, first, asciiMode, asciiMode && !caseSensitive);
        const int at = findInWindow(w, prepared, state.findPos, asciiMode);
        if (at >= 0) {
            const FindResult hit{true, w.lineOf[at], cellAt(w.columnOf[at])};
            advanceTo(state, w, at + step);
            return hit;
        }
        state = {first, 0};
    }
    state = {};
    return {};
}
