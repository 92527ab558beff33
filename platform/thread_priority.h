#pragma once

namespace duzez::platform {

// The calling thread gives way to everything else (nice 19), so the interface stays
// responsive while a worker reads a disk.
void LowerCurrentThreadPriority();

}  // namespace duzez::platform
