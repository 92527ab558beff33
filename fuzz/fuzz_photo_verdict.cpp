// The photo verdicts over any bytes, as every format they judge: no crash, no position
// beyond the input, and a reason for every verdict.

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "signatures/photo_verdict.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using duzez::signatures::PhotoVerdict;
    const std::span<const std::uint8_t> file(data, size);
    for (const std::int32_t format : {300, 301, 302, 303, 310, 312, 313}) {
        const auto detail =
            duzez::signatures::JudgePhoto(format, file, std::chrono::milliseconds(500));
        if (detail.goodBytes > size || detail.reason.empty())
            std::abort();
        if (detail.verdict == PhotoVerdict::Intact && detail.goodBytes != size)
            std::abort();
        if (detail.verdict > PhotoVerdict::Damaged)
            std::abort();
    }
    return 0;
}
