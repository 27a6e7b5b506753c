// The one worker thread of a transfer session, and the notifications it sends to the
// session's own thread. A notification of an earlier worker, or one the session has
// discarded, is dropped when it arrives, so it can never touch the next transfer.
#pragma once

#include "platform/thread_priority.h"

#include <QMetaObject>
#include <QObject>
#include <atomic>
#include <cstdint>
#include <system_error>
#include <thread>
#include <utility>

namespace platform {

class SessionWorker {
public:
    // Notifications run on the thread of `owner`, and not at all once it is gone.
    explicit SessionWorker(QObject *owner) : m_owner(owner) {}
    ~SessionWorker() { join(); }
    SessionWorker(const SessionWorker &) = delete;
    SessionWorker &operator=(const SessionWorker &) = delete;

    // Runs work(generation) on a new thread at the highest priority the system allows; false,
    // and no thread, when none could be had.
    template <class Work> bool start(Work &&work) {
        join();
        const std::uint64_t generation = ++m_generation;
        try {
            m_thread = std::thread([work = std::forward<Work>(work), generation]() mutable {
                // Without the right to a higher priority the transfer runs at normal priority.
                raiseToTimeCritical();
                work(generation);
            });
        } catch (const std::system_error &) {
            return false;
        }
        return true;
    }

    // Waits for the thread; the worker must have been asked to end.
    void join() {
        if (m_thread.joinable())
            m_thread.join();
    }
    bool busy() const { return m_thread.joinable(); }
    // What the worker posted and the owner has not yet received is dropped.
    void discardPending() { ++m_generation; }

    // Runs f on the owner's thread, unless a newer worker has started or the notifications
    // were discarded by then.
    template <class F> void post(std::uint64_t generation, F &&f) {
        QMetaObject::invokeMethod(
            m_owner,
            [this, generation, f = std::forward<F>(f)]() mutable {
                if (generation == m_generation.load())
                    f();
            },
            Qt::QueuedConnection);
    }

private:
    QObject *m_owner;
    std::atomic<std::uint64_t> m_generation{0};
    std::thread m_thread;
};

} // namespace platform
