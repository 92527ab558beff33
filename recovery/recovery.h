#pragma once

// Writes found objects out as ordinary files under a destination folder, each in its
// folder path, in 2 MiB blocks on its own thread. The analysed volume is only read.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "filesystems/found_object.h"
#include "platform/shell.h"

namespace duzez::devices {
class CLocalComputer;
class CVolume;
}  // namespace duzez::devices

namespace duzez::recovery {

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
    // "Enter probable file size" for an object whose end is only estimated.
    virtual SizeAnswer AskProbableSize(const filesystems::FoundObject& object) = 0;
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
    std::atomic<std::uint32_t> RecoveredCount{0};
    std::atomic<std::uint32_t> FilePercent{0};
    std::atomic<std::uint64_t> RecoveredBytes{0};  // written by this run
    devices::CVolume* SourceVolume = nullptr;
    std::filesystem::path LastFilePath;
    std::vector<std::filesystem::path> TemporaryFiles;

    void SetQuestions(RecoveryQuestions* questions) { questions_ = questions; }
    // How "Try to open" opens a recovered file (the desktop's handler unless replaced).
    void SetOpener(platform::ShellOpener* opener) { opener_ = opener; }

    void StartRecovery(const std::filesystem::path& destination);
    // "Try to open": recovers the list into the temporary folder, then opens the last file.
    void StartTryOpen(const std::filesystem::path& temporaryFolder);
    // Deletes the files "Try to open" left, after asking; called as the main window closes.
    void DeleteTemporaryFiles();
    void Wait();
    void AbortRecovery() { RecoveryRunning = false; }
    bool Finished() const { return finished_.load(); }

    // False when the destination lies on the source and no other folder was given.
    bool CheckDestination(std::filesystem::path& path);
    // The bytes processed (0 = failure).
    std::uint64_t RecoverObject(const filesystems::FoundObject& object, std::filesystem::path root);
    std::uint64_t FileRecovery(const filesystems::FoundObject& object);

  private:
    std::optional<std::uint64_t> SettleSize(const filesystems::FoundObject& object);
    std::uint64_t SizeBy(SizeMethod method, const filesystems::FoundObject& object,
                         std::uint64_t customBytes) const;
    void Start(const std::filesystem::path& destination, bool tryOpen);
    void Run(std::filesystem::path destination, bool tryOpen);
    void OpenLastFile();
    // `wanted`, or "name (2).ext" and on when an earlier file of this run has that path.
    std::filesystem::path DistinctPath(const std::filesystem::path& wanted) const;

    devices::CLocalComputer& computer_;
    RecoveryQuestions* questions_ = nullptr;
    platform::XdgOpener desktopOpener_;
    platform::ShellOpener* opener_ = &desktopOpener_;
    // The files written by this run: two objects of one name and folder never share a file.
    std::set<std::filesystem::path> writtenThisRun_;
    std::vector<std::uint8_t> copyBuffer_;
    std::atomic<bool> finished_{true};
    std::thread thread_;
    // The listed object whose working copy is being written, for the progress messages.
    const filesystems::FoundObject* listed_ = nullptr;
};

}  // namespace duzez::recovery
