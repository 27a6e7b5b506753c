// The terminal's escape key: keys pass to the device as typed, except the escape key (Ctrl-T
// by default), which makes the next key a command of the terminal; the escape key twice sends
// it once.
#pragma once

#include <QString>
#include <optional>

namespace term {

inline constexpr char kDefaultEscape = 0x14; // Ctrl-T

// The control key of a letter or of @ [ \ ] ^ _ ("t" or "T" is Ctrl-T, "]" is Ctrl-]); none
// for anything else.
std::optional<char> escapeKeyFromName(const QString &name);
// "Ctrl-T", "Ctrl-]".
QString escapeKeyName(char key);

struct KeyAction {
    enum class Kind { Send, Command, Held };
    Kind kind = Kind::Held;
    char byte = 0; // the byte to send, or the command's key
};

class EscapeKeys {
public:
    // None: every key is sent.
    explicit EscapeKeys(std::optional<char> escape) : m_escape(escape) {}
    KeyAction feed(char key);
    // The escape key came and its command key has not.
    bool pending() const { return m_pending; }
    std::optional<char> escape() const { return m_escape; }

private:
    std::optional<char> m_escape;
    bool m_pending = false;
};

} // namespace term
