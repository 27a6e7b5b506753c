// The settings kept between runs: QSettings("Brisgal", "Kalvosan"), group "Settings"
// (~/.config/Brisgal/Kalvosan.conf). Texts as strings; "mode" as 4 bytes little-endian. The
// window restores its controls from here and saves them back; the command line takes what the
// user left out from here, so a rig set up once in the window needs only the port.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class QSettings;

namespace platform {

// The names of the stored texts.
namespace stored {
inline constexpr const char *Port = "port";
inline constexpr const char *DataBits = "datab";
inline constexpr const char *StopBits = "stopb";
inline constexpr const char *Parity = "parity";
inline constexpr const char *Baud = "baudrate";
inline constexpr const char *Flow = "flow";
inline constexpr const char *Delay = "delay";
inline constexpr const char *CaptureFile = "file1";
inline constexpr const char *SendFile = "file2";
inline constexpr const char *DropDirectory = "dir";
// "1" when captures also record the arrival times of what they receive.
inline constexpr const char *ArrivalTimes = "times";
// The window's transfer protocol: "none", "xmodem", "xmodem-1k", "ymodem" or "zmodem".
inline constexpr const char *Protocol = "protocol";
// The lines sent from the terminal window, the latest last.
inline constexpr const char *TerminalHistory = "termhistory";
} // namespace stored

// A stored text longer than this is refused (this platform's path limit).
inline constexpr int kMaxTextBytes = 4096;

class StoredSettings {
public:
    StoredSettings();
    ~StoredSettings();
    StoredSettings(const StoredSettings &) = delete;
    StoredSettings &operator=(const StoredSettings &) = delete;

    // False when there is no store yet, or it cannot be read: everything keeps its default.
    bool readable() const;
    // A stored text; it ends at its first zero byte, as a C string stored without one would.
    std::optional<QString> text(const char *name) const;
    // The send mode: true for mode 2; none when not stored as 4 bytes.
    std::optional<bool> mode2() const;
    // A switch stored as "1" or "0"; none when not stored.
    std::optional<bool> flag(const char *name) const;
    // A stored list of texts, its last `most` entries at most; a text too long is left out.
    QStringList texts(const char *name, int most) const;

    // A store that cannot be written is left alone, silently.
    bool writable() const;
    void setText(const char *name, const QString &value);
    void setMode2(bool mode2);
    void setFlag(const char *name, bool on);
    void setTexts(const char *name, const QStringList &values);
    void sync();

private:
    std::unique_ptr<QSettings> m_settings;
};

} // namespace platform
