#pragma once

// SHA-256 (FIPS 180-4), for checksums of recovered files that a person can compare with
// sha256sum. Kept here because nothing the program links provides it.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace duzez::platform {

class Sha256 {
  public:
    using Digest = std::array<std::uint8_t, 32>;

    Sha256();
    void Update(std::span<const std::uint8_t> bytes);
    void Update(std::string_view text);
    // The digest of everything given; the object starts over afterwards.
    Digest Finish();

    // 64 lowercase hex digits, as sha256sum prints them.
    static std::string Hex(const Digest& digest);

  private:
    void Reset();
    void Block(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_{};
    std::array<std::uint8_t, 64> buffer_{};
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0;  // bytes given so far
};

// The digest of `text` as hex.
std::string Sha256Hex(std::string_view text);

// The digest of the regular file at `path` as hex, read without following a final link;
// nothing (errno set) when it cannot be opened or read, or is no regular file.
std::optional<std::string> FileSha256(const std::filesystem::path& path);

}  // namespace duzez::platform
