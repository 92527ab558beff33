#include "ui/dialogs/volume_information_dialog.h"
#include "ui/dialogs/plain_label.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QTabWidget>
#include <QVBoxLayout>

#include "core/languages.h"
#include "devices/volume.h"
#include "filesystems/boot_record.h"
#include "filesystems/file_system.h"
#include "ui/explorer/size_text.h"
#include "ui/explorer/volume_info.h"
#include "ui/icons.h"

namespace duzez::ui {
namespace {

using core::StringId;

QString Text(const core::CLanguages& texts, StringId id) {
    return QString::fromStdString(texts.GetString(id));
}

QString SpaceText(std::uint64_t bytes, const core::CLanguages& texts) {
    return SizeText(bytes, false) + QStringLiteral(" (") + QString::number(bytes) +
           QLatin1Char(' ') + Text(texts, StringId::Bytes) + QLatin1Char(')');
}

QWidget* FormPage(const std::vector<std::pair<QString, QString>>& rows, QWidget* parent) {
    auto* page = new QWidget(parent);
    auto* form = new QFormLayout(page);
    for (const auto& [label, value] : rows)
        form->addRow(label, PlainLabel(value, page));
    return page;
}

}  // namespace

FileSystemCapabilities CapabilitiesOf(const std::string& fileSystemName) {
    FileSystemCapabilities can;
    if (fileSystemName == "NTFS") {
        can.namedStreams = can.objectIdentifiers = can.reparsePoints = can.sparseFiles = true;
        can.fileCompression = can.caseSensitiveNames = can.preservesCase = true;
        can.diskQuotas = can.encryption = can.accessControlLists = can.unicodeNames = true;
    } else if (fileSystemName.starts_with("FAT") || fileSystemName == "exFAT") {
        // Long names keep their case and are stored as UTF-16.
        can.preservesCase = can.unicodeNames = true;
    }
    return can;
}

VolumeInformationDialog::VolumeInformationDialog(devices::CVolume& volume,
                                                 const core::CLanguages& texts, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("volumeInformation"));
    setWindowTitle(Text(texts, StringId::VolumeInformation));
    const QString yes = Text(texts, StringId::Yes);
    const QString no = tr("No");

    const std::string& fileSystemName = volume.FileSystem->FileSystemName;
    const auto boot = filesystems::ReadBootFields(
        volume.BootSectorBytes(), filesystems::DetectFileSystem(volume.BootSectorBytes()));
    auto& general = rows_[kGeneral];
    general.emplace_back(tr("FileSystem:"), fileSystemName.empty()
                                                ? tr("Unknown")
                                                : QString::fromStdString(fileSystemName));
    general.emplace_back(tr("Status:"), VolumeStateText(volume, texts));
    general.emplace_back(tr("Label:"), QString::fromStdString(volume.VolumeLabel));
    general.emplace_back(tr("OEM ID:"),
                         boot ? QString::fromLatin1(boot->oemName).trimmed() : QString());
    general.emplace_back(tr("S/N:"),
                         QStringLiteral("%1").arg(volume.SerialNumber, 0, 16).toUpper());
    general.emplace_back(tr("Total Space:"), SpaceText(volume.TotalSize, texts));
    // Zero bytes free would be a claim; a volume whose tables cannot be read says so.
    general.emplace_back(tr("Free Space:"), volume.MeasureFreeSpace()
                                                ? SpaceText(volume.FreeBytes, texts)
                                                : tr("Unknown"));

    const FileSystemCapabilities can = CapabilitiesOf(fileSystemName);
    const auto flag = [&](const QString& label, bool value) {
        rows_[kCapabilities].emplace_back(label, value ? yes : no);
    };
    flag(tr("Named streams:"), can.namedStreams);
    flag(tr("Read only:"), can.readOnly);
    flag(tr("Object identifiers:"), can.objectIdentifiers);
    flag(tr("Reparse points:"), can.reparsePoints);
    flag(tr("Sparse files:"), can.sparseFiles);
    flag(tr("File-based compression:"), can.fileCompression);
    flag(tr("Case-sensitive file names:"), can.caseSensitiveNames);
    flag(tr("Preserves the case of file names:"), can.preservesCase);
    flag(tr("Disk quotas:"), can.diskQuotas);
    flag(tr("Encrypted file system (EFS):"), can.encryption);
    flag(tr("Preserves and enforces ACLs:"), can.accessControlLists);
    flag(tr("Unicode in filenames as they appear on disk:"), can.unicodeNames);
    flag(tr("Compressed volume:"), can.compressedVolume);

    auto& information = rows_[kInformation];
    information.emplace_back(tr("Offset from Physical:"),
                             QString::number(volume.StartOffset / 512));
    information.emplace_back(tr("Sectors per Cluster:"), QString::number(volume.SectorsPerCluster));
    information.emplace_back(tr("Bytes per Sector:"), QString::number(volume.BytesPerSector));
    information.emplace_back(tr("Bytes per Cluster:"), QString::number(volume.ClusterSize));

    auto* layout = new QVBoxLayout(this);
    auto* heading = new QHBoxLayout();
    auto* icon = new QLabel(this);
    icon->setPixmap(VolumeIcon(volume).pixmap(32, 32));
    heading->addWidget(icon);
    heading->addWidget(PlainLabel(QStringLiteral("%1 (%2)")
                                      .arg(QString::fromStdString(volume.DisplayNameText()))
                                      .arg(volume.DriveNumber),
                                  this),
                       1);
    layout->addLayout(heading);
    auto* pages = new QTabWidget(this);
    pages->setObjectName(QStringLiteral("pages"));
    pages->addTab(FormPage(rows_[kGeneral], pages), tr("General"));
    pages->addTab(FormPage(rows_[kCapabilities], pages), tr("Capabilities"));
    pages->addTab(FormPage(rows_[kInformation], pages), tr("Information"));
    layout->addWidget(pages);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

void VolumeInformationDialog::ShowPage(int page) {
    if (auto* pages = findChild<QTabWidget*>(QStringLiteral("pages")))
        pages->setCurrentIndex(page);
}

}  // namespace duzez::ui
