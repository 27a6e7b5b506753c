#pragma once

#include <array>
#include <cstddef>
#include <utility>
#include <vector>

namespace platform {

// Asks for the highest scheduling priority for the calling thread (nice -20); returns false
// and changes nothing where the system does not allow it. Callers go on either way.
//
// Not SCHED_FIFO: a real-time thread that busy-waits (the per-byte delay of a send) is
// throttled by the kernel for 50 ms of every second and starves the normal-priority kernel
// work that moves its bytes, so the pauses the device sees would get worse, not better.
bool raiseToTimeCritical();

// Back to the program's own priority (nice 0 unless started otherwise), for a thread whose
// work is carried on by the kernel's own workers, which run at normal priority: a
// pseudo-terminal moves each chunk written to it in such a worker, and a writer at nice -20
// held it up (whole chunks reached about 0.7 of `cat`'s rate instead of 0.85 to 1).
bool lowerToNormalPriority();

// For the stretch of a thread that keeps exact time (the pauses between the bytes of a send):
// the thread runs at the highest priority allowed (raiseToTimeCritical); it stays on the core
// it runs on, so that the scheduler neither balances it away nor wakes it on another core
// mid-send; its sleeps end without the default 50 us timer slack; memory handed to lockMemory
// is faulted in and kept in RAM, so that recording a rare gap never waits for a page. Each
// part silently does nothing where the system does not allow it; the end of the scope gives
// the thread its priority, cores and slack and the memory back. Create and destroy it on the
// same thread.
class PreciseTiming {
public:
    PreciseTiming();
    ~PreciseTiming();
    PreciseTiming(const PreciseTiming &) = delete;
    PreciseTiming &operator=(const PreciseTiming &) = delete;

    void lockMemory(const void *memory, std::size_t size);

private:
    static constexpr int kNoNice = 100;
    int m_nice = kNoNice;
    // The thread's cores before, as the kernel's bit mask (1024 cores).
    std::array<unsigned long, 16> m_cores{};
    bool m_pinned = false;
    int m_slackNs = -1;
    std::vector<std::pair<const void *, std::size_t>> m_locked;
};

} // namespace platform
