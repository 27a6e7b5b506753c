// "&Save" (1020) writes a range of the editor's bytes to a file; "&Print" (1021) prints a
// range of its lines through the print spooler.
#include "hexedit/editor_pane.h"
#include "hexedit/hex_list_box.h"
#include "hexedit/line_bytes.h"
#include "hexedit/print_logic.h"
#include "hexedit/range_dialog.h"
#include "platform/files.h"
#include "platform/ui.h"

#include <QFile>
#include <QProcess>

#include <optional>

namespace {

// The printout and the script go into the start directory, which others may write: whatever
// is at their names is replaced, never written through. False after the message was shown.
bool writePrintFile(QWidget *parent, const QString &path, const QByteArray &bytes) {
    if (platform::writeFreshFile(path, bytes.constData(), bytes.size()))
        return true;
    platform::messageBox(parent, QStringLiteral("Could not write file ") + path);
    return false;
}

// Runs the script with /bin/sh in its own process; the program neither waits for it nor
// looks at its result, and its output goes nowhere.
void runDetached(const QString &script, const QString &directory) {
    QProcess process;
    process.setProgram(QStringLiteral("/bin/sh"));
    process.setArguments({script});
    process.setWorkingDirectory(directory);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.startDetached();
}

} // namespace

void EditorPane::OnSave() {
    CloseCellEdit();
    if (m_hexList->count() == 0)
        return;
    const std::optional<QString> path =
        platform::chooseSaveFile(window(), QStringLiteral("Select file name"));
    if (!path)
        return;
    const ByteRange range = askRange(window());
    QFile file;
    if (!platform::openWithoutBlocking(file, *path, QIODevice::WriteOnly | QIODevice::Truncate)) {
        platform::messageBox(window(), QStringLiteral("Could not open file ") + *path);
        return;
    }
    const std::optional<QByteArray> bytes = [&] {
        const platform::WaitCursor wait;
        return collectRange(m_hexList->lineTexts(), range.from, range.to);
    }();
    if (!bytes) {
        platform::messageBox(window(), QStringLiteral("Insufficient Memory.."),
                             QStringLiteral("Kalvosan"), platform::MessageIcon::Critical);
        return;
    }
    if (!platform::writeAndClose(file, bytes->constData(), bytes->size()))
        platform::messageBox(window(), QStringLiteral("Could not write file ") + *path);
}

void EditorPane::OnPrint() {
    if (m_hexList->count() == 0)
        return;
    const std::optional<QString> printer = platform::choosePrinter(window());
    if (!printer)
        return;
    // Without a printer set up the dialog still says OK, with no printer's name: "lp -d ''"
    // would print nowhere without a word.
    if (printer->isEmpty()) {
        platform::messageBox(window(), QStringLiteral("No printer is set up."));
        return;
    }
    const QString printout = m_startDir + QStringLiteral("/printout.txt");
    const QString script = m_startDir + QStringLiteral("/print.sh");
    // A script the program could not write itself is never run: it could hold anything.
    if (!writePrintFile(window(), script, printCommand(*printer, printout).toUtf8()))
        return;
    const ByteRange range = askRange(window());
    const QStringList lines = m_hexList->lineTexts();
    const auto [first, last] = printLineRange(range.from, range.to, int(lines.size()));
    if (writePrintFile(window(), printout, printoutContent(lines, first, last)))
        runDetached(script, m_startDir);
}
