#pragma once

// Whole-file reads and atomic replacement of the program's own files (never of an
// analysed device or image).

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace duzez::platform {

struct FileError {
    std::string message;  // "what failed: why", ready for a log line
};

// Reads a regular file of at most maxBytes; a larger file is an error, not a truncation.
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::filesystem::path& path,
                                                       std::uintmax_t maxBytes,
                                                       FileError* error = nullptr);

// Writes to a temporary file beside `path`, flushes it to the disk and renames it over
// `path`, so a failure at any step leaves the previous file as it was.
bool WriteFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                         FileError* error = nullptr);

// Opens one of the program's own files to add lines to (cleared first when `clear`),
// created when missing and never through a link: run as root for a user whose home it
// lies in, a link planted at its name would otherwise have root write to any file.
// Null with errno set when it cannot be opened.
std::FILE* OpenOwnFileForAppending(const std::filesystem::path& path, bool clear);

// Writes all of `bytes` at the descriptor's position: a short write goes on from where it
// stopped and EINTR is retried. Returns 0, or the errno that stopped it; `written` is how
// much reached the file either way.
int WriteAll(int fd, std::span<const std::uint8_t> bytes, std::size_t& written);

}  // namespace duzez::platform
