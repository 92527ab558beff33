#pragma once

// The verdict on a JPEG, from decoding all of its compressed data with libjpeg.

#include "signatures/verdict_support.h"

namespace duzez::signatures::verdict {

// Intact when it decodes cleanly to its end marker; truncated when the data runs out first;
// damaged at the first corrupt or unreadable data, with the rows read before it.
VerdictDetail JudgeJpeg(Bytes file, Clock::time_point deadline);

}  // namespace duzez::signatures::verdict
