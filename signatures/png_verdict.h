#pragma once

// The verdict on a PNG, from its chunks and the size its image data inflates to.

#include "signatures/verdict_support.h"

namespace duzez::signatures::verdict {

// Intact when every chunk passes its checksum and the image data inflates to exactly what
// the header's size needs; truncated when the file ends before its end chunk.
VerdictDetail JudgePng(Bytes file, Clock::time_point deadline);

}  // namespace duzez::signatures::verdict
