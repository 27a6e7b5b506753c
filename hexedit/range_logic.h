// The offsets of the "Select range:" fields: their value and which texts a field accepts.
#pragma once

#include <QChar>
#include <QString>

// The value of a field's text: each character, with k characters after it, adds its digit
// value times 16^k; a character from "A" up counts its code minus 55, any other its code minus
// 48. The empty text gives 0. For "0"-"9" and "A"-"F" this is the hexadecimal value; the sum
// is taken in 64 bits and saturates at the limits of int.
int ParseHexOffset(const QString &text);

// The 52 characters a range field refuses: the ASCII punctuation (0x21-0x2F, 0x3A-0x40,
// 0x5B-0x60, 0x7B-0x7E) and the letters "G" to "Z".
bool inRejectionSet(QChar c);

// True when a field may hold this text: it is empty, or it holds only "0"-"9" and "A"-"F" and
// its value lies in 0..0x7FD10. Besides the rejection set this refuses the blank, lower-case
// letters and characters beyond ASCII, whose values under ParseHexOffset mean nothing (a blank
// counts -16); the field converts typed letters to upper case before the text is checked.
bool acceptRangeField(const QString &text);
