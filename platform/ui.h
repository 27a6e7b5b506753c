// The program's few modal interactions with the user go through here, so that every message
// box has the same caption and icon rules and tests can see and answer them without a
// modal loop. When no answerer is installed, the real Qt dialogs are shown.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QWidget;
class QDialog;

namespace platform {

enum class MessageIcon { None, Critical, Information };

struct MessageRecord {
    QString text;
    QString caption;
    MessageIcon icon;
};

// Shows a message box with an OK button, owned by parent.
void messageBox(QWidget *parent, const QString &text, const QString &caption = "Kalvosan",
                MessageIcon icon = MessageIcon::Critical);

enum class FileDialogKind { Open, Save, Directory };

struct FileDialogRequest {
    FileDialogKind kind;
    QString title;
    QString startPath; // the directory to preselect (Directory) or empty
};

// Runs a modal dialog; tests may answer instead (the hook gets the dialog before it runs).
int execDialog(QDialog *dialog);

// Returns the chosen path, or an empty optional on Cancel.
std::optional<QString> chooseOpenFile(QWidget *parent, const QString &title);
std::optional<QString> chooseSaveFile(QWidget *parent, const QString &title);
std::optional<QString> chooseDirectory(QWidget *parent, const QString &title,
                                       const QString &current);
// The print dialog without "selection" and "print to file"; returns the printer's name.
std::optional<QString> choosePrinter(QWidget *parent);

// Opens a URL with the desktop's handler; false when nothing could open it.
bool openUrl(const QString &url);

// Answerers for tests. Each hook, when set, replaces the real dialog.
struct UiHooks {
    std::function<void(const MessageRecord &)> message;
    std::function<std::optional<QString>(const FileDialogRequest &)> fileDialog;
    std::function<int(QDialog *)> execDialog;
    std::function<std::optional<QString>()> printer;
    std::function<bool(const QString &)> openUrl;
};
UiHooks &uiHooks();

// The wait cursor for the life of the object.
class WaitCursor {
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

} // namespace platform
