#include "platform/thread_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace duzez::platform {

void LowerCurrentThreadPriority() {
    // On Linux a thread's nice value is its own, addressed by its thread id.
    const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
    ::setpriority(PRIO_PROCESS, thread, 19);
}

}  // namespace duzez::platform
