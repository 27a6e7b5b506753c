#include "platform/thread_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

bool raiseToTimeCritical() {
    // On Linux the nice value of a thread is set through its thread id.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    return ::setpriority(PRIO_PROCESS, tid, -20) == 0;
}

} // namespace platform
