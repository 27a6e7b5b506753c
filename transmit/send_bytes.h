// Bytes given as text rather than in a file: the command line's send --hex and --text, and
// what a terminal's input line sends. None for text that does not give bytes.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace transmit {

// Pairs of hex digits, the groups between blanks each with or without "0x" ("01 02 FF",
// "0102ff", "0x01 0x02"). An odd count of digits in a group gives none; so does text with no
// group at all.
std::optional<QByteArray> bytesFromHex(const QString &text);
// The characters in UTF-8 (bytes an argument carried that are not UTF-8 as they came), with the escapes \r \n \t \\ and \xHH; any other escape gives none.
// Empty text gives empty bytes.
std::optional<QByteArray> bytesFromEscapedText(const QString &text);

} // namespace transmit
