#pragma once

// Where a PDF ends.

#include <cstdint>
#include <optional>

#include "signatures/file_bytes.h"

namespace duzez::signatures {

// The end of the last `%%EOF` line (with its CR, LF or CRLF) of a chain of sections, each
// one's `startxref` pointing at its own cross-reference table or stream; nullopt when no
// `%%EOF` within the limit has one.
std::optional<std::uint64_t> PdfEnd(FileBytes& bytes);

}  // namespace duzez::signatures
