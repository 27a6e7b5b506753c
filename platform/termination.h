// SIGINT, SIGTERM and SIGHUP as a notification on the owner's thread, so that a transfer ends
// through its session (file complete, port released) instead of the process dying mid-write.
#pragma once

#include <QObject>
#include <atomic>

class QSocketNotifier;

namespace platform {

// True until SIGINT, SIGTERM or SIGHUP came while a watch was installed: a run flag for a wait
// that runs before the event loop does (a network port's open), so that Ctrl-C ends it at once.
const std::atomic<bool> &untilTerminated();

class TerminationWatch : public QObject {
    Q_OBJECT
public:
    // One watch at a time: the handlers write into this watch's pipe.
    explicit TerminationWatch(QObject *parent = nullptr);
    // Puts the default handlers back.
    ~TerminationWatch() override;

signals:
    // SIGINT, SIGTERM or SIGHUP came; once per signal, on the owner's thread.
    void requested();

private:
    void drain();

    QSocketNotifier *m_notifier = nullptr;
};

} // namespace platform
