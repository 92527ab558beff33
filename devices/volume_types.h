#pragma once

// The kinds, media categories and states of a volume, and the records of the device
// queries it keeps.

#include <array>
#include <cstdint>
#include <optional>

#include "core/string_table.h"

namespace duzez::devices {

namespace VolumeKind {
constexpr std::uint32_t Physical = 1;
constexpr std::uint32_t Logical = 2;
constexpr std::uint32_t Virtual = 4;
constexpr std::uint32_t Image = 8;
constexpr std::uint32_t Found = 16;
constexpr std::uint32_t ComputerRoot = 32;
constexpr std::uint32_t ImagesRoot = 64;
}  // namespace VolumeKind

namespace DriveCategory {
constexpr std::uint32_t Unknown = 0;
constexpr std::uint32_t Removable = 2;
constexpr std::uint32_t Fixed = 3;
constexpr std::uint32_t CdDvd = 5;
constexpr std::uint32_t OsFile = 7;
constexpr std::uint32_t VolumeImage = 8;
constexpr std::uint32_t Found = 16;
}  // namespace DriveCategory

namespace VolumeStatus {
constexpr std::uint32_t NotReady = 0x80004005;
constexpr std::uint32_t Querying = 0;
constexpr std::uint32_t Ready = 1;
constexpr std::uint32_t SectorPhase = 2;
constexpr std::uint32_t FileSystemPhase = 4;
}  // namespace VolumeStatus

namespace NodeId {
constexpr std::uint64_t ComputerRoot = 0xFFFFFFFFFFFFFFF4ull;
constexpr std::uint64_t ImagesRoot = 0xFFFFFFFFFFFFFFEFull;
constexpr std::uint64_t FirstCounterValue = 0xFFFFFFFFFFFF0000ull;
}  // namespace NodeId

namespace VolumeFlags {
constexpr std::uint16_t Listed = 0x4000;
constexpr std::uint16_t FoundAgain = 0x2000;
}  // namespace VolumeFlags

constexpr std::uint32_t kUnqueried = 0xFFFFFFFF;

struct DiskGeometry {
    std::uint64_t Cylinders = 0;
    std::uint32_t MediaType = 0;  // 11 removable media, 12 fixed
    std::uint32_t TracksPerCylinder = 0;
    std::uint32_t SectorsPerTrack = 0;
    std::uint32_t BytesPerSector = 0;
};

struct PartitionInformation {
    std::uint64_t StartingOffset = 0;  // bytes
    std::uint64_t PartitionLength = 0;
    std::uint32_t HiddenSectors = 0;
    std::uint32_t PartitionNumber = 0;
    std::uint8_t PartitionType = 0;
    std::uint8_t BootIndicator = 0;
    std::uint8_t RecognizedPartition = 0;
    std::uint8_t RewritePartition = 0;
};

struct DriveLayoutInformation {
    std::uint32_t PartitionCount = 0;
    std::uint32_t Signature = 0;
    std::array<PartitionInformation, 4> PartitionEntry{};
};

struct DeviceNumberInformation {
    std::uint32_t DeviceType = kUnqueried;
    std::uint32_t DeviceNumber = kUnqueried;
    std::uint32_t PartitionNumber = kUnqueried;
};

// The string-table texts the information views show for the kind, the media category
// and the state; nullopt where there is none (the root nodes; an unknown media category
// shows as "unknown").
std::optional<core::StringId> VolumeCategoryText(std::uint32_t volumeType);
std::optional<core::StringId> DriveTypeText(std::uint32_t driveType);
core::StringId VolumeStateText(std::uint32_t state);

}  // namespace duzez::devices
