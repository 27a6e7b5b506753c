#pragma once

namespace platform {

// Asks for real-time (SCHED_FIFO) scheduling for the calling thread; returns false and
// changes nothing where the system does not allow it. Callers go on either way.
bool raiseToTimeCritical();

} // namespace platform
