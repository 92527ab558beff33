#pragma once

// Where a compound document (Office 97-2003, MSI, Outlook .msg, thumbs.db...) ends.

#include <cstdint>
#include <optional>

#include "signatures/file_bytes.h"

namespace duzez::signatures {

// The end of the highest sector its FAT marks in use, with the header taking a sector of
// its own; nullopt when the header, the FAT sector list or the FAT do not hold together, or
// when the FAT reaches past the bound.
std::optional<std::uint64_t> CompoundDocumentEnd(FileBytes& bytes);

}  // namespace duzez::signatures
