#include "platform/thread_priority.h"

#include <pthread.h>
#include <sched.h>

namespace platform {

bool raiseToTimeCritical() {
    sched_param param{};
    // A middle real-time priority: above every normal thread, below the kernel's own.
    param.sched_priority = 10;
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

} // namespace platform
