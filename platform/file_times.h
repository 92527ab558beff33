#pragma once

#include <cstdint>
#include <filesystem>

namespace duzez::platform {

// Sets a file's access and modification times from FILETIME values (100 ns since 1601);
// Linux keeps no settable creation time. 0 leaves a time as it is.
bool SetFileTimes(const std::filesystem::path& file, std::uint64_t accessed,
                  std::uint64_t modified);
// The same for an open file.
bool SetFileTimes(int fd, std::uint64_t accessed, std::uint64_t modified);

}  // namespace duzez::platform
