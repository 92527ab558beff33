#include "signatures/photo_verdict.h"

#include "signatures/gif_verdict.h"
#include "signatures/iso_media_verdict.h"
#include "signatures/jpeg_verdict.h"
#include "signatures/png_verdict.h"
#include "signatures/signature.h"
#include "signatures/tiff_verdict.h"
#include "signatures/verdict_support.h"

namespace duzez::signatures {

const char* VerdictName(PhotoVerdict verdict) {
    switch (verdict) {
        case PhotoVerdict::Intact:
            return "intact";
        case PhotoVerdict::Truncated:
            return "truncated";
        case PhotoVerdict::Damaged:
            return "damaged";
        case PhotoVerdict::Unchecked:
            break;
    }
    return "unchecked";
}

VerdictDetail JudgePhoto(std::int32_t format, std::span<const std::uint8_t> file,
                         std::chrono::milliseconds budget) {
    const verdict::Clock::time_point deadline = verdict::Clock::now() + budget;
    if (format == FormatIds::Jpeg)
        return verdict::JudgeJpeg(file, deadline);
    if (format == FormatIds::Png)
        return verdict::JudgePng(file, deadline);
    if (format == FormatIds::Gif)
        return verdict::JudgeGif(file, deadline);
    if (FormatIds::IsTiffPhoto(format))
        return verdict::JudgeTiff(file, deadline);
    if (FormatIds::IsIsoMedia(format))
        return JudgeIsoMedia(file);
    return verdict::Make(PhotoVerdict::Unchecked, 0, "a format that is not checked");
}

}  // namespace duzez::signatures
