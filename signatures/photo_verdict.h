#pragma once

// Whether a recovered photo is whole, cut short or corrupt, judged from its bytes alone, so
// that a person need not open every file to find the broken ones.

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

namespace duzez::signatures {

enum class PhotoVerdict : std::uint8_t { Unchecked = 0, Intact, Truncated, Damaged };

// "unchecked", "intact", "truncated" or "damaged".
const char* VerdictName(PhotoVerdict verdict);

struct VerdictDetail {
    PhotoVerdict verdict = PhotoVerdict::Unchecked;
    // Where the bytes stop making sense: for a JPEG the position in its compressed data when
    // the first problem showed; for a damaged PNG, GIF or TIFF the part that is wrong; else
    // the file's size.
    std::uint64_t goodBytes = 0;
    // JPEG: image rows whose compressed data was read before the first problem.
    std::uint32_t goodRows = 0;
    std::string reason;  // one short phrase, such as "corrupt data after row 312"
};

// Judges `file` as format 300 (JPEG, decoded), 301 (PNG), 302 (GIF), 303, 310, 312, 313
// (TIFF and the RAW formats built on it) or 317, 400, 401, 402 (HEIF and the ISO media
// files), whose structure only is checked. Any other format,
// an image too large to check safely, or work past `budget` gives Unchecked.
VerdictDetail JudgePhoto(std::int32_t format, std::span<const std::uint8_t> file,
                         std::chrono::milliseconds budget = std::chrono::seconds(5));

}  // namespace duzez::signatures
