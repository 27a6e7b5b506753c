// Internals of libkalvosan.so shared by the entry points (loader_library.cpp) and the worker
// (loader_worker.cpp). Nothing here is exported: the library is built with hidden visibility
// and a version script that lets only Start, Stop and Finish out.
#pragma once

#include <QPointer>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>

class QListWidget;
class QObject;

namespace loader {

// The library state. g_loadPath is written by Start only while no worker runs.
extern QString g_loadPath;
extern std::atomic<int> g_stopFlag;
extern std::atomic<int> g_finishFlag;
// Bumped by Start, Stop and the unload guard; a queued block whose generation is no longer
// current is dropped when it runs on the UI thread.
extern std::atomic<std::uint64_t> g_generation;

inline constexpr int kBlockSize = 0x2000;
inline constexpr std::chrono::milliseconds kWaitStep{100};

// Where one worker's lines go: the list (which the host may destroy at any time), the
// library-owned QObject in the list's thread that receives the queued calls, and the
// generation the worker was started under.
struct WorkerTarget {
    QPointer<QListWidget> list;
    QObject *context = nullptr;
    std::uint64_t generation = 0;
};

// Waits up to `step` or until Stop, Finish or the unload guard wakes it.
void waitStep(std::chrono::milliseconds step);

// The thread function of a load. Returns 0.
int LoaderWorker(WorkerTarget target);

} // namespace loader
