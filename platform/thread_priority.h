#pragma once

namespace platform {

// Asks for the highest scheduling priority for the calling thread (nice -20); returns false
// and changes nothing where the system does not allow it. Callers go on either way.
//
// Not SCHED_FIFO: a real-time thread that busy-waits (the per-byte delay of a send) is
// throttled by the kernel for 50 ms of every second and starves the normal-priority kernel
// work that moves its bytes, so the pauses the device sees would get worse, not better.
bool raiseToTimeCritical();

} // namespace platform
