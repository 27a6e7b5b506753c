// TerminalApp: builds the terminal window, runs it, and ends the program when it closes.
#include "app/terminal_dialog.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    const char byte = 1;
    // Only an async-signal-safe write here; the window reacts on its own thread.
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM end the program as "E&xit" would, after stopping a running transfer.
void watchTerminationSignals(TerminalDialog &dialog) {
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &dialog);
    QObject::connect(notifier, &QSocketNotifier::activated, &dialog, [&dialog, notifier] {
        char drain[16];
        while (::read(g_signalPipe[0], drain, sizeof drain) > 0) {
        }
        notifier->setEnabled(false);
        dialog.shutdownOnSignal();
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kalvosan"));
    QApplication::setOrganizationName(QStringLiteral("Brisgal"));
    TerminalDialog dialog;
    // Without its loader library the program does not run, and leaves the settings alone.
    if (!dialog.OnInitDialog())
        return 1;
    watchTerminationSignals(dialog);
    dialog.exec();
    return 0;
}
