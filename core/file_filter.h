#pragma once

// The display filter of the explorer views: a 728-byte record stored as the default value
// of the program's "Filter" subkey.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace duzez::platform {
class RegistryStore;
}

namespace duzez::core {

class CFileFilter {
  public:
    static constexpr std::size_t kSize = 728;
    static constexpr std::string_view kSubkey = "Filter";

    enum Offset : std::size_t {
        kDeletedOnly = 20,
        kByWildcards = 52,
        kByDate = 56,
        kLocalTimeDates = 60,
        kBySize = 64,
        kFileTypes = 80,
        kWildcardPattern = 120,
        kDateFrom = 632,
        kDateTo = 640,
    };
    static constexpr std::size_t kPatternCapacity = 256;

    enum class FileTypes : std::uint32_t { All = 0, KnownOnly = 1, Custom = 2 };

    bool DeletedOnly() const { return U32(kDeletedOnly) != 0; }
    void SetDeletedOnly(bool on) { SetU32(kDeletedOnly, on ? 1 : 0); }
    bool ByWildcards() const { return U32(kByWildcards) != 0; }
    void SetByWildcards(bool on) { SetU32(kByWildcards, on ? 1 : 0); }
    bool ByDate() const { return U32(kByDate) != 0; }
    void SetByDate(bool on) { SetU32(kByDate, on ? 1 : 0); }
    bool LocalTimeDates() const { return U32(kLocalTimeDates) != 0; }
    void SetLocalTimeDates(bool on) { SetU32(kLocalTimeDates, on ? 1 : 0); }
    FileTypes Types() const { return static_cast<FileTypes>(U32(kFileTypes)); }
    void SetTypes(FileTypes t) { SetU32(kFileTypes, static_cast<std::uint32_t>(t)); }
    std::string WildcardPattern() const;
    void SetWildcardPattern(std::string_view pattern);
    std::uint64_t DateFrom() const { return U64(kDateFrom); }
    void SetDateFrom(std::uint64_t fileTime) { SetU64(kDateFrom, fileTime); }
    std::uint64_t DateTo() const { return U64(kDateTo); }
    void SetDateTo(std::uint64_t fileTime) { SetU64(kDateTo, fileTime); }

    std::span<const std::uint8_t> Bytes() const { return bytes_; }
    bool Assign(std::span<const std::uint8_t> bytes);

    // Reads the stored filter; creates the key with this (default) filter when it is
    // absent. A stored value of the wrong type or size leaves this filter as it is.
    bool LoadFilter(platform::RegistryStore& store, std::string_view programKey);
    bool SaveFilter(platform::RegistryStore& store, std::string_view programKey) const;

  private:
    std::uint32_t U32(std::size_t offset) const;
    void SetU32(std::size_t offset, std::uint32_t value);
    std::uint64_t U64(std::size_t offset) const;
    void SetU64(std::size_t offset, std::uint64_t value);

    std::array<std::uint8_t, kSize> bytes_{};
};

}  // namespace duzez::core
