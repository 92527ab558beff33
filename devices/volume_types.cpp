#include "devices/volume_types.h"

namespace duzez::devices {

using core::StringId;

std::optional<StringId> VolumeCategoryText(std::uint32_t volumeType) {
    switch (volumeType) {
        case VolumeKind::Physical:
            return StringId::CategoryPhysical;
        case VolumeKind::Logical:
            return StringId::CategoryLogical;
        case VolumeKind::Virtual:
            return StringId::CategoryVirtual;
        case VolumeKind::Image:
            return StringId::VolumeImage;
        case VolumeKind::Found:
            return StringId::Found;
        default:
            return std::nullopt;
    }
}

std::optional<StringId> DriveTypeText(std::uint32_t driveType) {
    switch (driveType) {
        case DriveCategory::Removable:
            return StringId::Removable;
        case DriveCategory::Fixed:
            return StringId::Fixed;
        case DriveCategory::CdDvd:
            return StringId::CdDvd;
        case DriveCategory::OsFile:
            return StringId::OsFile;
        case DriveCategory::VolumeImage:
            return StringId::VolumeImage;
        case DriveCategory::Found:
            return StringId::Found;
        default:
            return std::nullopt;
    }
}

StringId VolumeStateText(std::uint32_t state) {
    switch (state) {
        case VolumeStatus::Querying:
            return StringId::InformationRequest;
        case VolumeStatus::Ready:
            return StringId::Ready;
        case VolumeStatus::SectorPhase:
        case VolumeStatus::FileSystemPhase:
            return StringId::Analyzing;
        default:
            return StringId::NotReady;
    }
}

}  // namespace duzez::devices
