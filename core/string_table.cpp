#include "core/string_table.h"

#include <algorithm>
#include <array>

namespace duzez::core {
namespace {

// Sorted by identifier, so lookups are a binary search.
constexpr std::array kStrings{
    BuiltinString{StringId::ClipboardLargeCopy,
                  "You are copying a large amount of data to the clipboard.\r\nAre you sure you "
                  "want to do this?"},
    BuiltinString{StringId::Error, "Error"},
    BuiltinString{StringId::FoundFile, "Found file: %s"},
    BuiltinString{StringId::AnalysisDuration, "Analysis duration: %d minute(s), %d second(s)."},
    BuiltinString{StringId::AnalysisCompleted,
                  "Analysis completed. Found %d folder(s) and %d file(s)."},
    BuiltinString{StringId::Bytes, "bytes"},
    BuiltinString{StringId::Filters, "Filters"},
    BuiltinString{StringId::WizardWelcome, "Welcome!"},
    BuiltinString{StringId::Wizard9Step1, "Step 1 of 9: Select drive"},
    BuiltinString{StringId::Wizard9Step2, "Step 2 of 9: Select File Types"},
    BuiltinString{StringId::Wizard9Step3, "Step 3 of 9: Choose sector-by-sector scanning mode"},
    BuiltinString{StringId::Wizard9Step4, "Step 4 of 9: Let the computer do all the work for you!"},
    BuiltinString{StringId::Wizard9Step5, "Step 5 of 9: Scanning the file system..."},
    BuiltinString{StringId::Wizard9Step6, "Step 6 of 9: View and recover after file system scan"},
    BuiltinString{StringId::Wizard9Step7, "Step 7 of 9: Scanning drive sectors..."},
    BuiltinString{StringId::Wizard9Step8, "Step 8 of 9: View and recover after sectors scan"},
    BuiltinString{StringId::Wizard9Step9, "Step 9 of 9: Recovery completed"},
    BuiltinString{StringId::Confirmation, "Confirmation"},
    BuiltinString{StringId::Settings, "Settings"},
    BuiltinString{StringId::Busy, "Busy"},
    BuiltinString{StringId::Idle, "Idle"},
    BuiltinString{StringId::Search, "Search"},
    BuiltinString{StringId::ColumnName, "Name"},
    BuiltinString{StringId::ColumnSize, "Size"},
    BuiltinString{StringId::ColumnType, "Type"},
    BuiltinString{StringId::ColumnDateModified, "Date Modified"},
    BuiltinString{StringId::ColumnInFolder, "In Folder"},
    BuiltinString{StringId::WizardMenuButton, "Menu..."},
    BuiltinString{StringId::ConfirmStopScanning, "Are you sure you want to stop scanning?"},
    BuiltinString{StringId::VolumeReadRetry, "Volume %s at position %I64d not read, retry %d"},
    BuiltinString{StringId::CantReadBootSector, "Can't read boot sector on [%s]"},
    BuiltinString{StringId::GetPartitionInfoError, "GetPartitionInfo error on volume [%s]"},
    BuiltinString{StringId::KBytes, "KBytes"},
    BuiltinString{StringId::Deleted, "Deleted"},
    BuiltinString{StringId::Live, "Live"},
    BuiltinString{StringId::AnalyzingMft, "Analyzing MFT table"},
    BuiltinString{StringId::FoundVolumeAt, "Found %s volume at: %I64d"},
    BuiltinString{StringId::MediumConnected, "Volume %s: Medium connected!"},
    BuiltinString{StringId::MediumRemoved, "Drive %s: Medium removed!"},
    BuiltinString{StringId::NoFilesFound, "No files found"},
    BuiltinString{StringId::RecoveryListEmpty, "Recovery list is empty!"},
    BuiltinString{StringId::RecoveryStarted, "Recovery started."},
    BuiltinString{StringId::CreatingRecoveryList, "Creating recovery list."},
    BuiltinString{StringId::CantCreateTemporaryFile, "Can't create temporary file"},
    BuiltinString{StringId::ImageCantReadSector, "Image_Create: Can't read sector: 0x%I64x"},
    BuiltinString{StringId::ImageCantWriteSector, "Image_Create: Can't write sector: 0x%I64x"},
    BuiltinString{StringId::CantAllocateMemory, "Can't allocate memory!"},
    BuiltinString{StringId::FatRootDirectoryNotRead, "FAT Root directory not read!"},
    BuiltinString{StringId::RecoveryCreateFileFailed,
                  "CRecovery::FileRecovery.CreateFile '%s' failed"},
    BuiltinString{StringId::RecoveryReadError,
                  "CRecovery::FileRecovery.ReadError: ReadedSize = %d, ReqSize = %d"},
    BuiltinString{StringId::RecoveryWriteError,
                  "CRecovery::FileRecovery.WriteError: WritedSize = %d, ReqSize = %d"},
    BuiltinString{StringId::DeleteTemporaryFiles, "Delete temporary files?"},
    BuiltinString{StringId::RecoveringFile,
                  "FileRecovery: Recovering file: %s [from '%s' to '%s']"},
    BuiltinString{StringId::RecoverySkipped, "FileRecovery: File '%s' recovery skipped"},
    BuiltinString{StringId::RecoveryCancelled, "FileRecovery: File '%s' recovery cancelled"},
    BuiltinString{StringId::FileOpened, "File '%s'  opened successfully"},
    BuiltinString{StringId::OpenNoApplication,
                  "Opening file: \"%s\" failed! No application associated with this file"},
    BuiltinString{StringId::OpenFailed, "Opening file: \"%s\" failed! System error code: %d"},
    BuiltinString{StringId::CantCreateFolder, "Can't create folder: %s"},
    BuiltinString{StringId::RecoveryWriteSystemError, "FileRecovery: Write system error %d"},
    BuiltinString{StringId::RecoveryAborted, "Recovery aborted."},
    BuiltinString{StringId::RecoveryCompleted, "Recovery completed."},
    BuiltinString{StringId::RecoveryZeroSize,
                  "CRecovery::FileRecovery of '%s' failed because file size == 0"},
    BuiltinString{StringId::ConfirmStopRecovery, "Are you sure you want to stop recovery?"},
    BuiltinString{StringId::Yes, "Yes"},
    BuiltinString{
        StringId::NothingRecoveredMoveOn,
        "You haven't restored any of the files. Please make sure that you have marked all required "
        "files and pressed the \"Recover\" button in the current dialogue before you move on to "
        "the next step of the recovery process. Do you want to move on to the next step?"},
    BuiltinString{StringId::NothingRecoveredContinue,
                  "You haven't restored any of the files. Please make sure that you have marked "
                  "all required files and pressed the \"Recover\" button in the current dialogue. "
                  "Do you want to move on to the next step?"},
    BuiltinString{StringId::RestartRecoveryQuestion,
                  "You are not allowed to change options after recovery is started. Do you want to "
                  "start recovery from begining?"},
    BuiltinString{StringId::VolumeInformation, "Volume Information"},
    BuiltinString{StringId::SystemPath, "System Path"},
    BuiltinString{StringId::Category, "Category"},
    BuiltinString{StringId::CategoryVirtual, "Virtual"},
    BuiltinString{StringId::OsFile, "OS File"},
    BuiltinString{StringId::Found, "Found"},
    BuiltinString{StringId::VolumeImage, "Volume Image"},
    BuiltinString{StringId::CategoryLogical, "Logical"},
    BuiltinString{StringId::CategoryPhysical, "Physical"},
    BuiltinString{StringId::CdDvd, "CD/DVD"},
    BuiltinString{StringId::Removable, "Removable"},
    BuiltinString{StringId::Fixed, "Fixed"},
    BuiltinString{StringId::Type, "Type"},
    BuiltinString{StringId::NameWithSize, "%s [size: %I64d]"},
    BuiltinString{StringId::DestinationOnSourceDrive,
                  "The distination folder is on the same drive with the source. You should change "
                  "the destination location for recovered files."},
    BuiltinString{StringId::DriveNumber, "Drive %d"},
    BuiltinString{StringId::Begin, "Begin"},
    BuiltinString{StringId::End, "End"},
    BuiltinString{StringId::Count, "Count"},
    BuiltinString{StringId::LoadingClustersBitmapStart, "Loading clusters bitmap start"},
    BuiltinString{StringId::LoadingClustersBitmapComplete, "Loading clusters bitmap complete"},
    BuiltinString{StringId::DestinationOnSourceDriveSelectAnother,
                  "The destination folder is on the same drive with the source. You should change "
                  "the destination location for recovered files.\nSelect another destination "
                  "folder for recovered files?"},
    BuiltinString{StringId::Warning, "Warning!"},
    BuiltinString{StringId::SelectDestinationFolder,
                  "Select destination folder for recovered files"},
    BuiltinString{StringId::ProgramRunning, "Program running."},
    BuiltinString{StringId::TotalSpace, "Total Space"},
    BuiltinString{StringId::NotReady, "Not Ready"},
    BuiltinString{StringId::Analyzing, "Analyzing"},
    BuiltinString{StringId::InformationRequest, "Information request"},
    BuiltinString{StringId::State, "State"},
    BuiltinString{StringId::SerialNumber, "Serial Number"},
    BuiltinString{StringId::AnalysisStopped, "Analysis of %s stoped"},
    BuiltinString{StringId::Wizard4Step1, "Step 1 of 4: Select drive"},
    BuiltinString{StringId::Wizard4Step2,
                  "Step 2 of 4: Select path to recovery and Search file types"},
    BuiltinString{StringId::Wizard4Step3, "Step 3 of 4: Analysing drive"},
    BuiltinString{StringId::Wizard4Step4, "Step 4 of 4: View and recover"},
    BuiltinString{StringId::Wizard4Finish, "Finish: Recovery completed"},
    BuiltinString{StringId::LostFragmentsFolder, "Filesystem (lost fragments)"},
    BuiltinString{StringId::LostFileName, "lost_file_%I64d"},
    BuiltinString{StringId::LostFilesFolder, "Lost files"},
    BuiltinString{StringId::LostFolderName, "lost_folder_%d"},
    BuiltinString{StringId::InitializingDrive, "Initializing drive %s"},
    BuiltinString{StringId::Aborting, "Aborting..."},
    BuiltinString{StringId::OperationAborted, "Operation aborted. Incomplete drive analysis!"},
    BuiltinString{StringId::ClearLastAnalysis, "Clear last drive analysis information..."},
    BuiltinString{StringId::Folder, "Folder"},
    BuiltinString{StringId::AnalyzingFileSystem, "Analyzing file system."},
    BuiltinString{StringId::BeginningFileSystemAnalysis, "Beginning file system analysis."},
    BuiltinString{StringId::NoFileSystemDetected,
                  "No file system detected! File system analysis skipped."},
    BuiltinString{StringId::AnalyzingDriveSectors, "Analyzing drive sectors."},
    BuiltinString{StringId::StartingSectorAnalysis,
                  "Starting drive sector analysis, searching for lost files."},
    BuiltinString{StringId::VirtualDrives, "Virtual Drives"},
    BuiltinString{StringId::DriveImages, "Drive Images"},
    BuiltinString{StringId::Ready, "Ready"},
    BuiltinString{StringId::MyComputer, "My Computer"},
    BuiltinString{StringId::RecycleBin, "Recycle Bin"},
};

constexpr bool IsSorted() {
    for (std::size_t i = 1; i < kStrings.size(); ++i) {
        if (kStrings[i - 1].id >= kStrings[i].id)
            return false;
    }
    return true;
}
static_assert(IsSorted(), "the string table must be sorted by identifier");

}  // namespace

std::optional<std::string_view> BuiltinText(std::uint32_t id) {
    const auto it = std::lower_bound(kStrings.begin(), kStrings.end(), id,
                                     [](const BuiltinString& entry, std::uint32_t wanted) {
                                         return static_cast<std::uint32_t>(entry.id) < wanted;
                                     });
    if (it == kStrings.end() || static_cast<std::uint32_t>(it->id) != id)
        return std::nullopt;
    return it->text;
}

std::span<const BuiltinString> BuiltinStrings() {
    return kStrings;
}

}  // namespace duzez::core
