#include "platform/thread_priority.h"

#include <cerrno>
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

// On Linux the nice value of a thread is set and read through its thread id.
bool setThreadNice(int nice) {
    return ::setpriority(PRIO_PROCESS, static_cast<id_t>(threadId()), nice) == 0;
}

} // namespace

bool raiseToTimeCritical() {
    return setThreadNice(-20);
}

bool lowerToNormalPriority() {
    // The program's own priority is that of its main thread, whose id is the process id.
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()));
    return errno == 0 && setThreadNice(nice);
}

#ifdef __linux__

static_assert(sizeof(cpu_set_t) == sizeof(std::array<unsigned long, 16>));

PreciseTiming::PreciseTiming() {
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(threadId()));
    if (errno == 0 && raiseToTimeCritical())
        m_nice = nice;
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
    if (m_nice != kNoNice)
        setThreadNice(m_nice);
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
