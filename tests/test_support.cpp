#include "tests/test_support.h"

#include "app/terminal_dialog.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace testsupport {

MessageRecorder::MessageRecorder() {
    platform::uiHooks().message = [this](const platform::MessageRecord &r) {
        m_messages.push_back(r);
    };
}

MessageRecorder::~MessageRecorder() {
    platform::uiHooks().message = nullptr;
}

std::unique_ptr<TerminalDialog> startedDialog(bool show, const QString &startDir) {
    QSettings(QStringLiteral("Brisgal"), QStringLiteral("Kalvosan")).clear();
    const QString before = QDir::currentPath();
    if (!startDir.isEmpty())
        QDir::setCurrent(startDir);
    auto dialog = std::make_unique<TerminalDialog>();
    QDir::setCurrent(before);
    if (!dialog->OnInitDialog())
        return nullptr;
    if (show)
        dialog->show();
    return dialog;
}

bool openInThisProcess(const QString &path) {
    const QString target = QFileInfo(path).canonicalFilePath();
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QFileInfo &fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
        if (fd.symLinkTarget() == target)
            return true;
    }
    return false;
}

} // namespace testsupport
