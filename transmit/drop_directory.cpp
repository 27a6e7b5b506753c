#include "app/terminal_dialog.h"
#include "platform/ui.h"

#include <QLineEdit>

// "...": the folder chooser with the current drop directory preselected.
void TerminalDialog::OnBrowseDropDirectory() {
    UpdateData(true);
    auto *edit = itemAs<QLineEdit>(1007);
    QString current = edit->text();
    if (const auto chosen =
            platform::chooseDirectory(this, QStringLiteral("Select drop directory"), current))
        current = *chosen;
    if (!current.isEmpty())
        edit->setText(current);
}
