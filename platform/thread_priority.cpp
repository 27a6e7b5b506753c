#include "platform/thread_priority.h"

#include <cstring>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace platform {

namespace {

pid_t threadId() {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

} // namespace

bool raiseToTimeCritical() {
    // On Linux the nice value of a thread is set through its thread id.
    return ::setpriority(PRIO_PROCESS, static_cast<id_t>(threadId()), -20) == 0;
}

#ifdef __linux__

static_assert(sizeof(cpu_set_t) == sizeof(std::array<unsigned long, 16>));

PreciseTiming::PreciseTiming() {
    cpu_set_t before;
    const int core = ::sched_getcpu();
    if (core >= 0 && core < CPU_SETSIZE && ::sched_getaffinity(0, sizeof before, &before) == 0) {
        std::memcpy(m_cores.data(), &before, sizeof before);
        cpu_set_t only;
        CPU_ZERO(&only);
        CPU_SET(core, &only);
        m_pinned = ::sched_setaffinity(0, sizeof only, &only) == 0;
    }
    const int slack = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    if (slack > 0 && ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0) == 0)
        m_slackNs = slack;
}

PreciseTiming::~PreciseTiming() {
    for (const auto &[memory, size] : m_locked)
        ::munlock(memory, size);
    if (m_slackNs > 0)
        ::prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(m_slackNs), 0, 0, 0);
    if (m_pinned) {
        cpu_set_t before;
        std::memcpy(&before, m_cores.data(), sizeof before);
        ::sched_setaffinity(0, sizeof before, &before);
    }
}

void PreciseTiming::lockMemory(const void *memory, std::size_t size) {
    // Beyond RLIMIT_MEMLOCK the pages stay as they are.
    if (size > 0 && ::mlock(memory, size) == 0)
        m_locked.emplace_back(memory, size);
}

#else

PreciseTiming::PreciseTiming() = default;
PreciseTiming::~PreciseTiming() = default;
void PreciseTiming::lockMemory(const void *, std::size_t) {}

#endif

} // namespace platform
