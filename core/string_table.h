#pragma once

// Identifiers of the built-in string table. Every text the program shows or logs by
// identifier is named here; the texts are in string_table.cpp.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace duzez::core {

enum class StringId : std::uint32_t {
    ClipboardLargeCopy = 132,
    Error = 133,
    FoundFile = 134,
    AnalysisDuration = 135,
    AnalysisCompleted = 136,
    Bytes = 140,
    Filters = 141,
    WizardWelcome = 142,
    Wizard9Step1 = 144,
    Wizard9Step2 = 145,
    Wizard9Step3 = 146,
    Wizard9Step4 = 147,
    Wizard9Step5 = 148,
    Wizard9Step6 = 149,
    Wizard9Step7 = 150,
    Wizard9Step8 = 151,
    Wizard9Step9 = 152,
    Confirmation = 157,
    Settings = 160,
    Busy = 161,
    Idle = 162,
    Search = 163,
    ColumnName = 164,
    ColumnSize = 165,
    ColumnType = 166,
    ColumnDateModified = 167,
    ColumnInFolder = 168,
    WizardMenuButton = 169,
    ConfirmStopScanning = 170,
    VolumeReadRetry = 172,
    CantReadBootSector = 173,
    GetPartitionInfoError = 174,
    KBytes = 175,
    Deleted = 176,
    Live = 177,
    AnalyzingMft = 178,
    FoundVolumeAt = 179,
    MediumConnected = 180,
    MediumRemoved = 181,
    NoFilesFound = 182,
    RecoveryListEmpty = 183,
    RecoveryStarted = 184,
    CreatingRecoveryList = 185,
    CantCreateTemporaryFile = 186,
    ImageCantReadSector = 191,
    ImageCantWriteSector = 192,
    CantAllocateMemory = 193,
    FatRootDirectoryNotRead = 194,
    RecoveryCreateFileFailed = 196,
    RecoveryReadError = 197,
    RecoveryWriteError = 198,
    DeleteTemporaryFiles = 200,
    RecoveringFile = 201,
    RecoverySkipped = 202,
    RecoveryCancelled = 203,
    FileOpened = 205,
    OpenNoApplication = 206,
    OpenFailed = 207,
    CantCreateFolder = 210,
    RecoveryWriteSystemError = 211,
    RecoveryAborted = 213,
    RecoveryCompleted = 214,
    RecoveryZeroSize = 215,
    ConfirmStopRecovery = 217,
    Yes = 220,
    NothingRecoveredMoveOn = 221,
    NothingRecoveredContinue = 222,
    RestartRecoveryQuestion = 223,
    VolumeInformation = 235,
    SystemPath = 252,
    Category = 253,
    CategoryVirtual = 254,
    OsFile = 255,
    Found = 256,
    VolumeImage = 257,
    CategoryLogical = 258,
    CategoryPhysical = 259,
    CdDvd = 260,
    Removable = 261,
    Fixed = 262,
    Type = 263,
    NameWithSize = 266,
    DestinationOnSourceDrive = 267,
    DriveNumber = 268,
    Begin = 271,
    End = 272,
    Count = 273,
    LoadingClustersBitmapStart = 277,
    LoadingClustersBitmapComplete = 278,
    DestinationOnSourceDriveSelectAnother = 282,
    Warning = 283,
    SelectDestinationFolder = 284,
    ProgramRunning = 289,
    TotalSpace = 370,
    NotReady = 371,
    Analyzing = 372,
    InformationRequest = 373,
    State = 374,
    SerialNumber = 375,
    AnalysisStopped = 385,
    Wizard4Step1 = 403,
    Wizard4Step2 = 404,
    Wizard4Step3 = 405,
    Wizard4Step4 = 406,
    Wizard4Finish = 407,
    LostFragmentsFolder = 4301,
    LostFileName = 4355,
    LostFilesFolder = 5200,
    LostFolderName = 5300,
    InitializingDrive = 57111,
    Aborting = 57112,
    OperationAborted = 57113,
    ClearLastAnalysis = 57114,
    Folder = 57118,
    AnalyzingFileSystem = 57211,
    BeginningFileSystemAnalysis = 57212,
    NoFileSystemDetected = 57214,
    AnalyzingDriveSectors = 57311,
    StartingSectorAnalysis = 57313,
    VirtualDrives = 57316,
    DriveImages = 57317,
    Ready = 57345,
    MyComputer = 57350,
    RecycleBin = 57351,
};

struct BuiltinString {
    StringId id;
    std::string_view text;
};

// The built-in text of `id`, or nullopt for an identifier the table does not hold.
std::optional<std::string_view> BuiltinText(std::uint32_t id);
inline std::optional<std::string_view> BuiltinText(StringId id) {
    return BuiltinText(static_cast<std::uint32_t>(id));
}

// Every entry, in ascending identifier order.
std::span<const BuiltinString> BuiltinStrings();

}  // namespace duzez::core
