#include "platform/termination.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

int g_pipe[2] = {-1, -1};
// Set from the signal handler: a lock-free atomic store is safe there.
std::atomic<bool> g_untilTerminated{true};
static_assert(std::atomic<bool>::is_always_lock_free);

void onSignal(int) {
    g_untilTerminated.store(false);
    const char byte = 1;
    // Only an async-signal-safe write here; the watch reacts on its own thread.
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
}

void setHandler(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // A closed terminal or a dropped ssh session (SIGHUP) ends a transfer as Ctrl-C does.
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

} // namespace

const std::atomic<bool> &untilTerminated() {
    return g_untilTerminated;
}

TerminationWatch::TerminationWatch(QObject *parent) : QObject(parent) {
    // Without a pipe the signals keep their default action: the program ends at once.
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationWatch::drain);
    setHandler(onSignal);
}

TerminationWatch::~TerminationWatch() {
    if (!m_notifier)
        return;
    setHandler(SIG_DFL);
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void TerminationWatch::drain() {
    char bytes[16];
    ssize_t n = 0;
    while ((n = ::read(g_pipe[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < n; ++i)
            emit requested();
    }
}

} // namespace platform
