#pragma once

// One file format of the database: its number, texts, group, typical size and the byte
// patterns a file's first sector shows.

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace duzez::signatures {

constexpr std::size_t kSectorBytes = 512;

struct SignaturePattern {
    bool CheckByBits = false;
    std::uint16_t CompareLength = 0;  // 0 to 512
    std::array<std::uint8_t, kSectorBytes> Value{};
    std::array<std::uint8_t, kSectorBytes> Mask{};  // 0 = position not tested

    // Whether the first `CompareLength` bytes of `sector` show the pattern.
    bool Matches(std::span<const std::uint8_t, kSectorBytes> sector) const;
};

// The pattern a text such as "0=$FF,1=$D8,2='AB'" describes, or nothing for an empty text.
// Malformed items are skipped; the rest of the text still counts.
std::optional<SignaturePattern> ParsePatternText(std::string_view text);

// Fixed format numbers with a meaning inside the program.
namespace FormatIds {
constexpr std::int32_t Fat12Boot = 1;
constexpr std::int32_t Fat16Boot = 4;
constexpr std::int32_t NtfsBoot = 7;
constexpr std::int32_t Fat32Boot = 11;
constexpr std::int32_t NtfsFileRecord = 24;
constexpr std::int32_t FatDirectory = 25;
constexpr std::int32_t ExFatDirectory = 26;
constexpr std::int32_t LastInternal = 29;
constexpr std::int32_t CompoundDocument = 100;
constexpr std::int32_t SizeAtByte4 = 502;
constexpr std::int32_t SizeAtByte2 = 503;
constexpr std::int32_t StartsBefore32K = 504;
constexpr std::int32_t Jpeg = 300;
constexpr std::int32_t Png = 301;
constexpr std::int32_t Gif = 302;
constexpr std::int32_t Tiff = 303;  // also NEF, ARW, PEF, DNG
constexpr std::int32_t Cr2 = 310;
constexpr std::int32_t Orf = 312;
constexpr std::int32_t Rw2 = 313;
constexpr std::int32_t Heif = 317;   // also AVIF
constexpr std::int32_t Mpeg4 = 400;  // also CR3
constexpr std::int32_t QuickTime = 401;
constexpr std::int32_t ThreeGpp = 402;

// TIFF and the RAW formats built on it.
constexpr bool IsTiffPhoto(std::int32_t format) {
    return format == Tiff || format == Cr2 || format == Orf || format == Rw2;
}
// The ISO base media files: what their boxes and major brand say.
constexpr bool IsIsoMedia(std::int32_t format) {
    return format == Heif || format == Mpeg4 || format == QuickTime || format == ThreeGpp;
}
}  // namespace FormatIds

struct Signature {
    Signature() = default;
    Signature(const Signature&) = delete;
    Signature& operator=(const Signature&) = delete;

    std::int32_t FormatId = 0;
    std::int32_t GroupId = 0;
    // Changed by the interface while the scanner reads them.
    std::atomic<std::uint32_t> SearchEnable{1};
    std::atomic<std::uint32_t> View{0};
    std::uint32_t ShowFilesThisType = 1;
    std::uint32_t IsGroup = 0;
    std::uint32_t DefaultSize = 1024;  // KB
    std::uint32_t Coincidence = 100;
    std::uint32_t SearchOrder = 50;
    std::vector<SignaturePattern> Patterns;
    std::atomic<std::uint32_t> SizeMethodForType{0};
    std::string FirstExtension;
    std::string Title;
    std::string Description;
    std::string FileExtensions;
    std::string Prefix;
    std::string LastUpdate;
    std::string Group;
    std::uint32_t InternalProcessing = 0;
    std::uint32_t Enable = 0;

    // FileExtensions up to its first ';' or ','; all of it when there is none or when it
    // begins with one; at most 99 characters.
    static std::string FirstExtensionOf(std::string_view extensions);
};

}  // namespace duzez::signatures
