// The "Input buffer" display of the reply monitor: every received byte as "%.2X " (three
// characters of reply text); after every 24th character of the reply text two blanks follow,
// and after every 48th also CR LF, so a display line holds 16 bytes in two groups of 8.
#pragma once

#include <QString>
#include <cstdint>

// Characters of one full line as the display holds it: 16 cells of three, two pairs of blanks
// and the line break (CR LF becomes one).
inline constexpr int kReplyLineChars = 16 * 3 + 2 + 2 + 1;
// The display keeps its last 1 MiB of text: this many whole lines.
inline constexpr int kReplyDisplayLines = (1 << 20) / kReplyLineChars;

class ReplyText {
public:
    // The display text that the bytes add; the caller appends it to what it shows, so the cost
    // of an update follows the new bytes, not the whole reply.
    QString append(const std::uint8_t *bytes, int n);
    // Starts a new reply.
    void clear() { m_length = 0; }

private:
    qint64 m_length = 0; // characters of reply text so far
};
