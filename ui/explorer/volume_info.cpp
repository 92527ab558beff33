#include "ui/explorer/volume_info.h"

#include "core/languages.h"
#include "devices/volume.h"
#include "ui/explorer/size_text.h"

#include <QCoreApplication>
#include <optional>

namespace duzez::ui {

namespace {

using core::StringId;

QString Text(const core::CLanguages& texts, StringId id) {
    return QString::fromStdString(texts.GetString(id));
}

std::optional<StringId> DriveTypeText(std::uint32_t driveType) {
    namespace Category = devices::DriveCategory;
    switch (driveType) {
        case Category::Removable:
            return StringId::Removable;
        case Category::Fixed:
            return StringId::Fixed;
        case Category::CdDvd:
            return StringId::CdDvd;
        case Category::OsFile:
            return StringId::OsFile;
        case Category::VolumeImage:
            return StringId::VolumeImage;
        case Category::Found:
            return StringId::Found;
        default:
            return std::nullopt;
    }
}

std::optional<StringId> VolumeTypeText(std::uint32_t volumeType) {
    namespace Kind = devices::VolumeKind;
    switch (volumeType) {
        case Kind::Physical:
            return StringId::CategoryPhysical;
        case Kind::Logical:
            return StringId::CategoryLogical;
        case Kind::Virtual:
            return StringId::CategoryVirtual;
        case 7:
            return StringId::OsFile;
        case Kind::Image:
            return StringId::VolumeImage;
        case Kind::Found:
            return StringId::Found;
        default:
            return std::nullopt;
    }
}

StringId StateText(std::uint32_t state) {
    namespace Status = devices::VolumeStatus;
    switch (state) {
        case Status::Ready:
            return StringId::Ready;
        case Status::SectorPhase:
        case Status::FileSystemPhase:
            return StringId::Analyzing;
        case Status::Querying:
            return StringId::InformationRequest;
        default:
            return StringId::NotReady;
    }
}

}  // namespace

QString VolumeStateText(const devices::CVolume& volume, const core::CLanguages& texts) {
    return Text(texts, StateText(volume.VolumeState.load()));
}

std::vector<std::pair<QString, QString>> VolumeInformation(const devices::CVolume& volume,
                                                           const core::CLanguages& texts) {
    std::vector<std::pair<QString, QString>> rows;
    if (const auto type = DriveTypeText(volume.DriveType))
        rows.emplace_back(Text(texts, StringId::Type), Text(texts, *type));
    if (const auto category = VolumeTypeText(volume.VolumeType))
        rows.emplace_back(Text(texts, StringId::Category), Text(texts, *category));
    rows.emplace_back(Text(texts, StringId::SystemPath), QString::fromStdString(volume.DevicePath));
    rows.emplace_back(Text(texts, StringId::TotalSpace),
                      SizeText(volume.TotalSize, false) + QStringLiteral(" (") +
                          QString::number(volume.TotalSize) + QLatin1Char(' ') +
                          Text(texts, StringId::Bytes) + QLatin1Char(')'));
    rows.emplace_back(Text(texts, StringId::SerialNumber),
                      QStringLiteral("%1").arg(volume.SerialNumber, 0, 16).toUpper());
    rows.emplace_back(Text(texts, StringId::State), VolumeStateText(volume, texts));
    const QString fileSystem = QString::fromStdString(volume.FileSystem->FileSystemName);
    if (!fileSystem.isEmpty())
        rows.emplace_back(QCoreApplication::translate("VolumeInformation", "File system"),
                          fileSystem);
    if (!volume.VolumeLabel.empty())
        rows.emplace_back(QCoreApplication::translate("VolumeInformation", "Label"),
                          QString::fromStdString(volume.VolumeLabel));
    return rows;
}

}  // namespace duzez::ui
