#pragma once

// The verdict on a TIFF, or a camera RAW photo built on TIFF, from its directories.

#include "signatures/verdict_support.h"

namespace duzez::signatures::verdict {

// Intact when every strip, tile and preview the directories point at lies within the file;
// truncated when one runs past its end; damaged when a directory cannot be read.
VerdictDetail JudgeTiff(Bytes file, Clock::time_point deadline);

}  // namespace duzez::signatures::verdict
