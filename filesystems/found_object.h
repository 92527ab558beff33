#pragma once

// One found folder or file: a fixed record whose data is one extent of its volume (a carved
// photo rejoined from two pieces has two). Volumes and found objects share
// Start/Size/Flags/Id/ParentId, so the views list both alike.

#include <cstdint>
#include <string>
#include <string_view>

namespace duzez::filesystems {

namespace ObjectFlags {
constexpr std::uint16_t Deleted = 0x0001;
constexpr std::uint16_t IsFile = 0x0002;
constexpr std::uint16_t Folder = 0x0004;
// Its times are UTC (NTFS; exFAT with a recorded zone). Without it they are the local time
// of the clock that wrote them (FAT, EXIF), whose zone is not known.
constexpr std::uint16_t UtcTimes = 0x0008;
constexpr std::uint16_t HasDeleted = 0x0010;
constexpr std::uint16_t Named = 0x0080;
constexpr std::uint16_t LostFolder = 0x0200;
// Deleted, and (some of) its clusters now belong to another file: its data is not its own.
constexpr std::uint16_t Overwritten = 0x0800;
constexpr std::uint16_t NameOwned = 0x0400;
constexpr std::uint16_t ExtentToNext = 0x1000;
constexpr std::uint16_t FoundBySignature = 0x2000;
constexpr std::uint16_t Listed = 0x4000;
constexpr std::uint16_t NotTaken = 0xFFFF;  // AddFoundFile's answer for a duplicate
}  // namespace ObjectFlags

namespace SpecialIds {
constexpr std::uint64_t LostFragments = static_cast<std::uint64_t>(-18);
constexpr std::uint64_t LostFiles = static_cast<std::uint64_t>(-19);
}  // namespace SpecialIds

constexpr std::uint64_t kUnknownSize = ~std::uint64_t{0};

struct FoundObject {
    std::uint64_t Start = 0;  // byte offset of the data from the start of the volume
    std::uint64_t Size = kUnknownSize;
    std::uint16_t Flags = 0;
    std::uint16_t Attributes = 0;  // FAT attribute byte
    std::int16_t SignatureId = 0;  // low 16 bits of the format's number; 0 = none
    std::uint8_t Verdict = 0;      // a photo's verdict once judged; 0 = unchecked
    std::uint64_t Id = 0;
    std::uint64_t ParentId = 0;
    std::uint64_t Created = 0;  // FILETIME; 0 = none
    std::uint64_t Modified = 0;
    std::uint64_t Accessed = 0;
    std::string Name;  // UTF-8; empty unless Named
    std::uint32_t ViewItem = 0xFFFFFFFF;
    // A carved file found in two pieces: its first FirstPieceSize bytes lie at Start, the
    // rest from SecondPieceStart on. 0: one piece.
    std::uint64_t FirstPieceSize = 0;
    std::uint64_t SecondPieceStart = 0;

    // Every field 0, except Size and ViewItem all ones.
    void InitObject() { *this = FoundObject{}; }
    // The name, or "Unknown" when the object has none.
    std::string_view GetName() const;
    void SetName(std::string_view name);

    bool Is(std::uint16_t flag) const { return (Flags & flag) != 0; }
    bool IsSpecial() const { return static_cast<std::int64_t>(Id) < 0; }
    bool InTwoPieces() const { return FirstPieceSize != 0 && FirstPieceSize < Size; }
};

}  // namespace duzez::filesystems
