#pragma once

// Where a ZIP archive ends, and what ZIP, 7z and RAR share: CRC-32.

#include <cstdint>
#include <optional>

#include "signatures/file_bytes.h"

namespace duzez::signatures {

namespace archive_bytes {

// The CRC-32 (reflected 0xEDB88320) of `length` bytes at `offset`; nullopt when any lies
// beyond the limit.
std::optional<std::uint32_t> Crc32(FileBytes& bytes, std::uint64_t offset, std::uint64_t length);

}  // namespace archive_bytes

// ZIP and what is built on it (Office Open XML, OpenDocument, EPUB, JAR, APK): the local
// entries walked one after the other, the central directory that must list them, and the
// end-of-central-directory record with its comment; nullopt when they disagree.
std::optional<std::uint64_t> ZipEnd(FileBytes& bytes);

}  // namespace duzez::signatures
