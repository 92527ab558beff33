#pragma once
// A short busy wait before a thread sleeps on a condition variable. Waking a sleeping
// thread costs tens of microseconds on a virtual machine, as much as scanning a quarter
// of a block; a hand-over that comes within the spin costs nothing.

#include <chrono>

namespace duzez::core {

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// True once `ready()` holds, false when `limit` passed first.
template <typename Ready>
bool SpinUntil(Ready&& ready, std::chrono::microseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        for (int n = 0; n < 64; ++n) {
            if (ready())
                return true;
            CpuRelax();
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return ready();
    }
}

}  // namespace duzez::core
