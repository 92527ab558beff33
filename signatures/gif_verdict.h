#pragma once

// The verdict on a GIF, from its blocks and the pixels its compressed data stands for.

#include "signatures/verdict_support.h"

namespace duzez::signatures::verdict {

// Intact when every block leads to the trailer and each image's codes cover all its pixels;
// truncated when the file ends before the trailer.
VerdictDetail JudgeGif(Bytes file, Clock::time_point deadline);

}  // namespace duzez::signatures::verdict
