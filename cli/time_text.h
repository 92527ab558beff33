#pragma once

// File times for people and for scripts. NTFS keeps UTC, so its times can be shown in
// this machine's zone with their offset; FAT and EXIF keep the local time of the clock
// that wrote them, with no zone, so they are shown as they are and say so.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

#include "filesystems/found_object.h"

namespace duzez::cli {

// ISO 8601: "2024-05-01T12:00:00+02:00" for a UTC time (in this machine's zone),
// "2024-05-01T12:00:00" for a local one; null for no time (0).
nlohmann::ordered_json IsoTime(std::uint64_t fileTime, bool utc);

// The time now as ISO 8601 with this machine's offset: "2024-05-01T12:00:00+02:00".
std::string IsoTimeNow();

// "utc" or "local", for the JSON beside the times.
const char* TimeBasisName(const filesystems::FoundObject& object);

// "2024-05-01 12:00" for the listing, in this machine's zone when the time is UTC; empty
// for no time.
std::string ShortTime(std::uint64_t fileTime, bool utc);

}  // namespace duzez::cli
