#include "platform/ui.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QUrl>

#include <cstdio>

namespace platform {

UiHooks &uiHooks() {
    static UiHooks hooks;
    return hooks;
}

void messageBox(QWidget *parent, const QString &text, const QString &caption, MessageIcon icon) {
    if (uiHooks().message) {
        uiHooks().message({text, caption, icon});
        return;
    }
    // Unattended runs (scripts, checks of the installed program) read messages on stderr.
    if (qEnvironmentVariableIsSet("KALVOSAN_NONINTERACTIVE")) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
        return;
    }
    QMessageBox box(parent);
    box.setWindowTitle(caption);
    box.setText(text);
    box.setIcon(icon == MessageIcon::Critical      ? QMessageBox::Critical
                : icon == MessageIcon::Information ? QMessageBox::Information
                                                   : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

int execDialog(QDialog *dialog) {
    if (uiHooks().execDialog)
        return uiHooks().execDialog(dialog);
    return dialog->exec();
}

namespace {

// "All Files(*.*)" matching every file, as one filter entry.
const QString kAllFiles = QStringLiteral("All Files(*.*) (*)");

std::optional<QString> nonEmpty(const QString &result) {
    if (result.isEmpty())
        return std::nullopt;
    return result;
}

} // namespace

std::optional<QString> chooseOpenFile(QWidget *parent, const QString &title) {
    const FileDialogRequest request{FileDialogKind::Open, title, {}};
    if (uiHooks().fileDialog)
        return uiHooks().fileDialog(request);
    // A typed name need not exist: the file is only opened when it is sent.
    QFileDialog dialog(parent, title, QString(), kAllFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

std::optional<QString> chooseSaveFile(QWidget *parent, const QString &title) {
    const FileDialogRequest request{FileDialogKind::Save, title, {}};
    if (uiHooks().fileDialog)
        return uiHooks().fileDialog(request);
    return nonEmpty(QFileDialog::getSaveFileName(parent, title, QString(), kAllFiles));
}

std::optional<QString> chooseDirectory(QWidget *parent, const QString &title,
                                       const QString &current) {
    const FileDialogRequest request{FileDialogKind::Directory, title, current};
    if (uiHooks().fileDialog)
        return uiHooks().fileDialog(request);
    return nonEmpty(
        QFileDialog::getExistingDirectory(parent, title, current, QFileDialog::ShowDirsOnly));
}

std::optional<QString> choosePrinter(QWidget *parent) {
    if (uiHooks().printer)
        return uiHooks().printer();
    QPrinter printer;
    QPrintDialog dialog(&printer, parent);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return printer.printerName();
}

bool openUrl(const QString &url) {
    if (uiHooks().openUrl)
        return uiHooks().openUrl(url);
    return QDesktopServices::openUrl(QUrl(url));
}

WaitCursor::WaitCursor() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
}
WaitCursor::~WaitCursor() {
    QApplication::restoreOverrideCursor();
}

} // namespace platform
