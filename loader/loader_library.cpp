// libkalvosan.so: the entries Start, Stop and Finish around LoaderWorker.
//
// The entries are called on the thread of the list (the UI thread). The library guarantees:
//  1. After Start returns, only the new worker's lines reach the list: Start stops and joins
//     the previous worker (bounded: a worker never blocks for long, and its waiting step is
//     interruptible) and starts a new generation; blocks of earlier generations are dropped.
//  2. After Stop returns, the stopped worker adds nothing more, not even the rest of its block
//     or its tail line: lines travel to the UI thread as queued calls that carry their
//     generation, and Stop starts a new generation, so blocks already queued are dropped.
//  3. The worker never waits for the UI thread (only queued calls, never a blocking one), so
//     the UI thread may join it without deadlock; there is no processEvents loop anywhere.
//  4. Unloading the library while a worker runs ends the worker first, and no code of the
//     library runs afterwards: the destructor of a static object, run by dlclose, stops, wakes
//     and joins the worker, then deletes the library-owned QObject that is the context of the
//     queued calls, which removes its still-posted events while the code is still mapped.
//     The queued calls never touch a list that is gone (QPointer).
//  5. The waiting step of 100 ms is interruptible: Stop, Finish, Start and the unload wake a
//     waiting worker at once (condition variable).
//  6. Lines reach the list in one queued call per block (up to 512 lines, inserted with
//     QListWidget::addItems); each label is filled in on the UI thread from list->count() at
//     the moment its line is appended.
//  7. A read error ends the run as at the end of the file (no tail line); a directory gives an
//     empty list; a FIFO is read without blocking (O_NONBLOCK, "nothing yet" when it has no
//     data) and Stop ends it. A path that cannot be opened leaves the list empty.
#include "loader/loader_api.h"
#include "loader/loader_worker.h"

#include <QListWidget>
#include <QObject>

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace loader {

QString g_loadPath;
std::atomic<int> g_stopFlag{0};
std::atomic<int> g_finishFlag{0};
std::atomic<std::uint64_t> g_generation{0};

namespace {

std::mutex g_wakeMutex;
std::condition_variable g_wake;

// Taking the mutex between setting a flag and notifying means a worker that is about to wait
// has either seen the flag already or is waiting and gets the notification.
void wakeWorker() {
    { std::lock_guard lock(g_wakeMutex); }
    g_wake.notify_all();
}

// The one worker of the library and the context object of its queued calls.
class Library {
public:
    Library() = default;
    Library(const Library &) = delete;
    Library &operator=(const Library &) = delete;
    ~Library() {
        endWorker();
        delete m_context; // drops the events still posted to it, while this code is mapped
    }

    void start(QListWidget *list, const QString &path) {
        endWorker();
        g_loadPath = path;
        g_stopFlag.store(0);
        g_finishFlag.store(0);
        provideContext(list);
        try {
            m_worker = std::thread(LoaderWorker,
                                   WorkerTarget{QPointer(list), m_context, g_generation.load()});
        } catch (const std::system_error &) {
            // No thread: nothing is shown; the program ignores the result anyway.
        }
    }

private:
    void endWorker() {
        g_stopFlag.store(1);
        g_generation.fetch_add(1);
        wakeWorker();
        if (m_worker.joinable())
            m_worker.join();
    }

    // The context must live in the list's thread, so that the queued calls run there.
    void provideContext(QListWidget *list) {
        if (m_context != nullptr && list != nullptr && m_context->thread() != list->thread()) {
            delete m_context;
            m_context = nullptr;
        }
        if (m_context == nullptr) {
            m_context = new QObject;
            if (list != nullptr && list->thread() != m_context->thread())
                m_context->moveToThread(list->thread());
        }
    }

    std::thread m_worker;
    QObject *m_context = nullptr;
};

// Defined after the state above, so that dlclose destroys it first.
Library g_library;

} // namespace

void waitStep(std::chrono::milliseconds step) {
    std::unique_lock lock(g_wakeMutex);
    g_wake.wait_for(lock, step, [] { return g_stopFlag.load() != 0 || g_finishFlag.load() != 0; });
}

} // namespace loader

extern "C" {

Q_DECL_EXPORT int Start(QListWidget *listBox, QString path) {
    loader::g_library.start(listBox, path);
    return 1;
}

Q_DECL_EXPORT int Stop() {
    loader::g_stopFlag.store(1);
    loader::g_generation.fetch_add(1);
    loader::wakeWorker();
    return 1;
}

Q_DECL_EXPORT int Finish() {
    loader::g_finishFlag.store(1);
    loader::wakeWorker();
    return 1;
}

} // extern "C"
