// The editor's search over its hex lines: byte sequences given as hex digits, or ASCII text.
// Each search goes on one byte after the first byte of the last hit, so overlapping hits are
// all found, one per call; running off the end puts the search back to the top.
#pragma once

#include <QString>
#include <QStringList>

// Where the next search starts: the window of line findLine + 1, from position findPos of it.
struct FindState {
    int findLine = -1;
    int findPos = 0;
};

// A hit, or found == false when the search ran off the end of the lines.
struct FindResult {
    bool found = false;
    int line = -1;
    int cell = 0; // hex: 2 * byte index (the high digit); ASCII: 32 + byte index
};

// The longest search text, in characters after preparation.
inline constexpr int kMaxFindLength = 32;

// The text to search for. Hex: blanks removed, cut to 32 digits, upper case, an odd last digit
// dropped. ASCII: blanks kept ("a b" finds "a b"), cut to 32 characters, upper case unless the
// search is case-sensitive. Empty means there is nothing to search for.
QString prepareFindText(const QString &text, bool asciiMode, bool caseSensitive);

// True when the text holds only hex digits (either case) and blanks: what the hex search
// field accepts.
bool acceptableHexFindText(const QString &text);

// Searches for `prepared` (from prepareFindText) from `state` on and moves `state` past the
// hit's first byte, or back to the top when nothing more is found. The search looks at windows
// of three consecutive lines; a hex hit must start on the high digit of a byte. Hits are
// reported at the line and cell where they really stand, also when a short or edited line
// precedes them in the window.
FindResult findNext(const QStringList &lines, const QString &prepared, bool asciiMode,
                    bool caseSensitive, FindState &state);
