#pragma once

// Writes found objects out as ordinary files under a destination folder, each in its
// folder path, in 2 MiB blocks on its own thread. The analysed volume is only read; in the
// destination a file is only ever added, never replaced, and only once it is complete.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "filesystems/file_system.h"
#include "filesystems/found_object.h"
#include "platform/output_folder.h"
#include "platform/shell.h"

namespace duzez::devices {
class CLocalComputer;
class CVolume;
}  // namespace duzez::devices

namespace duzez::recovery {

class ProbableSize;

constexpr std::uint32_t WM_RECOVERY_PROGRESS = 0x8000 + 211;

// The size methods for a file whose end is only estimated.
enum class SizeMethod : std::uint32_t {
    None = 0,
    Default = 1,
    NextAny = 2,
    NextSame = 3,
    Custom = 4
};
enum class SizeScope { ThisFile, ThisType, AnyType };

// What became of one list entry.
enum class FileOutcome {
    Recovered,                       // written whole
    RecoveredWithUnreadableSectors,  // written whole, some sectors as zeros
    Incomplete,                      // written, but its end is a guess or its read stopped
    AlreadyRecovered,                // the same bytes are already there under its name
    Failed,                          // nothing written
    NotWritten                       // the run stopped first (abort, destination full)
};

struct FileResult {
    const filesystems::FoundObject* object = nullptr;  // the listed object
    std::filesystem::path path;                        // where it is, when written
    FileOutcome outcome = FileOutcome::Failed;
    std::uint64_t unreadableSectors = 0;
};

struct SizeAnswer {
    enum class Result { Ok, Cancel, Skip } result = Result::Cancel;
    SizeMethod method = SizeMethod::Default;
    std::uint64_t customBytes = 0;
    SizeScope scope = SizeScope::ThisFile;
};

// What the recovery asks its front end: the desktop shows dialogs, the command line
// answers from its options.
class RecoveryQuestions {
  public:
    virtual ~RecoveryQuestions() = default;
    // "Enter probable file size" for an object whose end is only estimated, with the
    // figures the dialog shows (recovery/probable_size.h). Unless replaced, asks the
    // object-only form below.
    virtual SizeAnswer AnswerSizeQuestion(const ProbableSize& question);
    // The same question for front ends that need only the object; cancels unless replaced.
    virtual SizeAnswer AskProbableSize(const filesystems::FoundObject& object);
    // The destination lies on the analysed drive: another folder, or nothing to stop.
    virtual std::optional<std::filesystem::path> AskOtherDestination(
        const std::filesystem::path& refused) = 0;
};

class CRecovery {
  public:
    static constexpr std::size_t kBlockBytes = 2097152;

    explicit CRecovery(devices::CLocalComputer& computer);
    ~CRecovery();
    CRecovery(const CRecovery&) = delete;
    CRecovery& operator=(const CRecovery&) = delete;

    std::atomic<std::uint32_t> SizeMethodForAll{0};
    std::atomic<std::int32_t> SizeKBForAll{-1};
    std::atomic<bool> RecoveryRunning{false};
    std::vector<filesystems::FoundObject*> RecoveryList;
    std::atomic<std::uint32_t> CurrentIndex{0};
    std::uint64_t TotalBytes = 0;
    std::atomic<std::uint32_t> RecoveredCount{0};  // files written into the destination
    std::atomic<std::uint32_t> FilePercent{0};
    std::atomic<std::uint64_t> RecoveredBytes{0};  // in the files this run put in place
    // The destination ran out of space (or quota); the run stopped there.
    std::atomic<bool> DestinationFull{false};
    // One entry per list entry that was attempted, in list order; read after the run.
    std::vector<FileResult> Results;
    devices::CVolume* SourceVolume = nullptr;
    std::filesystem::path LastFilePath;
    std::vector<std::filesystem::path> TemporaryFiles;
    // Given every folder and file the run creates (the command line run through sudo).
    std::optional<platform::FileOwner> NewFilesOwner;

    void SetQuestions(RecoveryQuestions* questions) { questions_ = questions; }
    // How "Try to open" opens a recovered file (the desktop's handler unless replaced).
    void SetOpener(platform::ShellOpener* opener) { opener_ = opener; }

    void StartRecovery(const std::filesystem::path& destination);
    // "Try to open": recovers the list into the temporary folder, then opens the last file.
    void StartTryOpen(const std::filesystem::path& temporaryFolder);
    // Deletes the files "Try to open" left, after asking; called as the main window closes.
    void DeleteTemporaryFiles();
    void Wait();
    // Stops after the current file, which is discarded unless it was already complete.
    void AbortRecovery() { RecoveryRunning = false; }
    // Removes the file being written at once, for a program that must end now.
    void DiscardPartialFile();
    bool Finished() const { return finished_.load(); }

    // Why `destination` cannot take the files of `source`, or empty when it can: on the
    // source drive, holding the source image, or not a folder this user can write into
    // (it is created when missing). For front ends to ask before any analysis runs.
    std::string DestinationProblem(const std::filesystem::path& destination,
                                   devices::CVolume* source) const;
    // False when the destination lies on the source and no other folder was given. A
    // folder given replaces `path`, and when `path` was the destination folder setting,
    // the setting too.
    bool CheckDestination(std::filesystem::path& path);
    // Keeps a size choice for the later files of this run and program run: "All files of
    // this type" in the type's record, "All files of any type" here; for a custom size
    // also the size in KiB. `size` is the size the choice gave. Also for "Set New Size".
    void RememberSizeChoice(const SizeAnswer& answer, const filesystems::FoundObject& object,
                            std::uint64_t size);
    // Writes one list entry below the run's destination.
    FileOutcome RecoverObject(const filesystems::FoundObject& object);

  private:
    // How copying an object's data into its temporary file ended.
    struct Copy {
        enum class End { Whole, ReadStopped, Aborted, Full, TooLarge, WriteFailed, OutOfBounds };
        End end = End::Whole;
        std::uint64_t bytes = 0;
        filesystems::ReadDamage damage;
    };
    Copy FileRecovery(const filesystems::FoundObject& object, platform::PartFile& part);
    // Decides what the copy amounts to, and keeps the file in place or discards it.
    FileOutcome Conclude(const filesystems::FoundObject& listed,
                         const filesystems::FoundObject& object, const Copy& copy,
                         platform::PartFile& part, platform::OutputFolder& folder,
                         const std::string& name);
    // Gives the finished file `name`, or "name (2)" and on past names that are taken; a
    // name that already holds the same bytes makes it AlreadyRecovered.
    FileOutcome PlaceFile(platform::PartFile& part, platform::OutputFolder& folder,
                          const std::string& name, std::filesystem::path& placedAt);
    // The folder below the destination that the object's folder path names, created on
    // the way; null (logged, `error` set) when it cannot be made.
    platform::OutputFolder* TargetFolder(const filesystems::FoundObject& object, int& error);
    // A full destination (or quota) ends the run: true, and the run is stopped, for those.
    bool StopWhenFull(int error);
    std::optional<std::uint64_t> SettleSize(const filesystems::FoundObject& object);
    std::uint64_t SizeBy(SizeMethod method, const filesystems::FoundObject& object,
                         std::uint64_t customBytes) const;
    // Whether `path` is the destination folder setting, which a new choice then replaces.
    bool IsDestinationSetting(const std::filesystem::path& path) const;
    void Start(const std::filesystem::path& destination, bool tryOpen);
    void Run(std::filesystem::path destination, bool tryOpen);
    void RecoverListEntry(const filesystems::FoundObject& object);
    void OpenLastFile();

    devices::CLocalComputer& computer_;
    RecoveryQuestions* questions_ = nullptr;
    platform::XdgOpener desktopOpener_;
    platform::ShellOpener* opener_ = &desktopOpener_;
    // The files written by this run: two objects of one name and folder never share a file.
    std::set<std::filesystem::path> writtenThisRun_;
    // The run's destination, and the folders of the current path opened below it with the
    // names they have on the volume.
    std::unique_ptr<platform::OutputFolder> output_;
    std::vector<std::pair<std::string, std::unique_ptr<platform::OutputFolder>>> openPath_;
    // The file being written, for DiscardPartialFile from another thread.
    std::mutex partMutex_;
    platform::PartFile* part_ = nullptr;
    std::vector<std::uint8_t> copyBuffer_;
    std::atomic<bool> finished_{true};
    std::thread thread_;
    // The listed object whose working copy is being written, for the progress messages.
    const filesystems::FoundObject* listed_ = nullptr;
};

}  // namespace duzez::recovery
