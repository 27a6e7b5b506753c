// TerminalApp: builds the terminal window, runs it, and ends the program when it closes.
#include "app/application_identity.h"
#include "app/terminal_dialog.h"
#include "platform/streams.h"
#include "platform/termination.h"

#include <QApplication>

int main(int argc, char **argv) {
    // Before Qt opens its first descriptor: none of its own may take the place of a standard
    // one the program was started without.
    platform::guardStandardDescriptors();
    QApplication app(argc, argv);
    describeApplication();
    TerminalDialog dialog;
    // Without its loader library the program does not run, and leaves the settings alone.
    if (!dialog.OnInitDialog())
        return 1;
    // SIGINT and SIGTERM end the program as "E&xit" would, after stopping a running transfer.
    platform::TerminationWatch termination;
    QObject::connect(&termination, &platform::TerminationWatch::requested, &dialog,
                     &TerminalDialog::shutdownOnSignal, Qt::SingleShotConnection);
    dialog.exec();
    return 0;
}
