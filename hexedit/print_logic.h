// Printing the editor's lines: which lines, the text file handed to the printer, and the one
// shell command that hands it over.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <utility>

// The lines that hold the offsets from..to: first = from / 16, last (not included) =
// min(to / 16, lineCount). first may reach or pass last, which prints no line.
std::pair<int, int> printLineRange(int from, int to, int lineCount);

// The printout: lines first..last-1 each followed by "\n", then one form feed (0x0C) and
// nothing after it. Indices outside the list are left out.
QByteArray printoutContent(const QStringList &lines, int first, int last);

// The text as one shell word: in single quotes, an embedded ' written as '\''.
QString shellQuote(const QString &text);

// "lp -d <printer> <file>" with both arguments quoted; one command, no line end.
QString printCommand(const QString &printerName, const QString &printoutPath);
