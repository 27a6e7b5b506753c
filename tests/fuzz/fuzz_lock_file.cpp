// The content of a UUCP lock file another program wrote.
#include "serial/uucp_lock.h"
#include "tests/fuzz/fuzz_target.h"

#include <cstdlib>

KV_FUZZ_TARGET(lock_file) {
    const auto pid = serial::parseLockPid(
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (pid && *pid <= 0)
        std::abort();
    return 0;
}
