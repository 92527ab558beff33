#pragma once

// Verdicts for the photos a listing holds: each read through its volume and judged on
// worker threads, so the scan itself is never slowed, and kept on the object.

#include <atomic>
#include <cstdint>
#include <span>

#include "filesystems/found_object.h"
#include "filesystems/tree_volume.h"
#include "signatures/photo_verdict.h"

namespace duzez::recovery {

// JPEG, PNG, GIF, TIFF and the TIFF-based RAW formats, HEIF and the ISO media files.
bool IsJudgedFormat(std::int32_t format);

// Reads each photo among `objects` (at most kMaxJudgedBytes of it) and stores its verdict
// in the object's Verdict field; what is no photo, or larger, stays unchecked. Ends early,
// leaving the rest unchecked, once `stop` is set.
void JudgePhotos(filesystems::TreeVolume& volume,
                 std::span<filesystems::FoundObject* const> objects,
                 const std::atomic<bool>* stop = nullptr);

constexpr std::uint64_t kMaxJudgedBytes = 256ull * 1024 * 1024;

inline signatures::PhotoVerdict VerdictOf(const filesystems::FoundObject& object) {
    return static_cast<signatures::PhotoVerdict>(object.Verdict);
}

}  // namespace duzez::recovery
