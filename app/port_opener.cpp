#include "app/port_opener.h"

PortOpener::PortOpener(QObject *parent) : QObject(parent), m_worker(this) {}

PortOpener::~PortOpener() {
    cancel();
}

bool PortOpener::start(const serial::PortConfig &config,
                       std::function<void(serial::OpenedPort)> done) {
    cancel();
    m_running = true;
    m_pending = true;
    const bool started = m_worker.start([this, config, done](std::uint64_t generation) {
        // Shared, so that a result the owner never receives is freed with the notification.
        auto opened = std::make_shared<serial::OpenedPort>(serial::openPort(config, &m_running));
        m_worker.post(generation, [this, opened, done] {
            m_pending = false;
            m_worker.join();
            done(std::move(*opened));
        });
    });
    if (!started) {
        m_pending = false;
        m_running = false;
    }
    return started;
}

void PortOpener::cancel() {
    m_running = false;
    m_worker.join();
    m_worker.discardPending();
    m_pending = false;
}
