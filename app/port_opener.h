// Opens a port on a thread of its own, so that the window keeps answering while a network port
// resolves, connects and negotiates (up to serial::kNetworkOpenBound and a second more). The
// open can be cancelled; the thread never outlives the opener.
#pragma once

#include "platform/session_worker.h"
#include "serial/port_config.h"

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>

class PortOpener : public QObject {
    Q_OBJECT
public:
    explicit PortOpener(QObject *parent = nullptr);
    // Cancels and waits: the open looks at its flag at least every 50 ms.
    ~PortOpener() override;

    // Opens the port of `config`; `done` runs on this object's thread with the result, unless
    // the open was cancelled first. False, and no thread, when none could be had.
    bool start(const serial::PortConfig &config, std::function<void(serial::OpenedPort)> done);
    // Ends the open early and waits for its thread; `done` is not called.
    void cancel();
    // An open has been started and its result not yet handed over.
    bool pending() const { return m_pending; }

private:
    std::atomic<bool> m_running{false};
    bool m_pending = false;
    // Declared last: it is joined first, while the flag it reads is still there.
    platform::SessionWorker m_worker;
};
