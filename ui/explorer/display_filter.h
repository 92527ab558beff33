#pragma once

// The display filter of the explorer views: whether a found object is shown under the
// active filter record. The list and tree models skip the objects it rejects.

#include <cstdint>
#include <string_view>

#include "core/file_filter.h"
#include "filesystems/found_object.h"

namespace duzez::signatures {
class SignatureDatabase;
}

namespace duzez::ui {

// True when `object` stays visible under `filter`:
// - special nodes (negative ids) always pass;
// - "deleted only" passes objects flagged Deleted or HasDeleted, so the folders on the
//   way to a deleted object stay while live files elsewhere go;
// - the wildcard pattern applies to named objects that are not folders;
// - the date range applies to objects with a modification time (local time when the
//   record says so); both ends are inclusive;
// - the file-type modes apply to objects that are not folders and need `formats`; without
//   it they let everything through. "Known only" hides objects no format matches,
//   "custom" hides those whose format has View off.
bool PassesDisplayFilter(const filesystems::FoundObject& object, const core::CFileFilter& filter,
                         const signatures::SignatureDatabase* formats = nullptr);

// '*' any run of characters, '?' any one character, everything else equal, case counts.
bool MatchesWildcard(std::string_view name, std::string_view pattern);

// A UTC file time as the same wall-clock reading in the local time zone.
std::uint64_t FileTimeToLocal(std::uint64_t fileTime);

}  // namespace duzez::ui
