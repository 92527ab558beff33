#pragma once

// The machine: its drive list, the log, the current volumes of analysis, the two root
// nodes of the drive tree and the counter every volume takes its node id from.

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/app.h"
#include "core/file_filter.h"
#include "core/log.h"
#include "devices/chunk_scanner.h"
#include "devices/volume.h"
#include "devices/volumes_list.h"
#include "platform/block_device.h"
#include "platform/drive_discovery.h"
#include "platform/media_monitor.h"
#include "signatures/signature_database.h"

namespace duzez::devices {

struct ScannerWatch;

struct LocalComputerOptions {
    platform::SystemRoots roots;
    std::shared_ptr<platform::DeviceOpener> opener;  // defaults to this machine's devices
    bool listDrives = true;                          // enumerate at construction
    bool followMediaChanges = true;                  // start the udev monitor
};

class CLocalComputer {
  public:
    explicit CLocalComputer(core::CApp& app, LocalComputerOptions options = {});
    ~CLocalComputer();
    CLocalComputer(const CLocalComputer&) = delete;
    CLocalComputer& operator=(const CLocalComputer&) = delete;

    static CLocalComputer* Instance();

    core::CApp& App() { return app_; }
    core::CLog& Log() { return log_; }
    CVolumesList& Volumes() { return volumes_; }
    core::CFileFilter& Filter() { return filter_; }
    platform::DeviceOpener& Opener() { return *opener_; }
    signatures::SignatureDatabase& Signatures() { return signatures_; }

    // Start-up: imports the shipped formats when the store has none yet, then loads the
    // database. Problems are logged; false when the shipped file could not be imported.
    bool LoadSignatures();
    const platform::SystemRoots& Roots() const { return roots_; }

    CVolume& ComputerRoot() { return *computerRoot_; }
    CVolume& ImagesRoot() { return *imagesRoot_; }

    // Decrements the id counter and returns the new value.
    std::uint64_t NextId();

    // A partition or lost volume found on a listed volume (record: Start = byte offset,
    // ParentId = the volume it was found on, SignatureId = partition type). Lists it, or
    // marks the volume already there as found again. Returns the new volume, if any.
    CVolume* AddFoundVolume(const filesystems::FoundObject& record);

    // Loads an image file as a volume of the list, with the partitions it holds as found
    // volumes; null with `error` set when the file cannot be opened.
    CVolume* LoadImage(const std::filesystem::path& image, std::string& error);

    // A drive image file as a volume (not yet in the list); null with `error` set when the
    // file cannot be opened.
    std::shared_ptr<CVolume> CreateImageVolume(const std::filesystem::path& image,
                                               std::string& error);

    // Analysis. One analysis runs at a time; further volumes wait in the queue. Threads
    // started here run at the lowest priority and post their progress to the main window.
    void StartAnalysis(CVolume& volume);
    void StartFileSystemAnalysis(CVolume& volume);
    void StartSectorAnalysis(CVolume& volume, bool volumesOnly);
    void AnalyseFileSystem(CVolume& volume);
    void AnalyseSectors(CVolume& volume);
    // False only when the user declines to stop.
    bool StopAnalysis(CVolume& volume, bool silent);
    void FinishAnalysis(CVolume& volume);
    void AddFileSystemObject(CVolume& volume, const filesystems::FoundObject& record);
    std::vector<CVolume*> AnalysisQueue() const;
    // Volumes leaving the list: their analyses stop, they leave the queue, and the
    // current-volume pointers that named them return to the computer root.
    void ForgetVolumes(const std::vector<std::shared_ptr<CVolume>>& volumes);

    // The scanner of the sector phase (the signature scanner unless replaced).
    void SetScannerFactory(ScannerFactory factory) { scannerFactory_ = std::move(factory); }
    // The analyser for a file-system id (FAT, NTFS); null keeps the generic one.
    using FileSystemFactory =
        std::function<std::unique_ptr<filesystems::CFileSystem>(CVolume&, std::uint32_t id)>;
    void SetFileSystemFactory(FileSystemFactory factory) {
        fileSystemFactory_ = std::move(factory);
    }
    // Yes/No questions to the user (caption, text); without an answerer the answer is Yes.
    using Question = std::function<bool(core::StringId caption, core::StringId text)>;
    void SetQuestionAnswerer(Question ask) { ask_ = std::move(ask); }
    bool Ask(core::StringId caption, core::StringId text) const {
        return !ask_ || ask_(caption, text);
    }

    // Whether a file at `destination` would lie on the drive `volume` is read from, or
    // `destination` holds the image file it is read from.
    bool DestinationOnSource(const std::filesystem::path& destination, CVolume* volume) const;
    // Creates the destination folder before a recovery; false (logged unless silent) when
    // it lies on the active volume's drive or cannot be made.
    bool PrepareDestination(const std::filesystem::path& destination, bool silent);

    // How long a phase waits for the scanner with one block, and for a stopped thread.
    std::chrono::milliseconds ScannerBlockWait{10000};
    std::chrono::milliseconds StopGrace{1000};

    std::atomic<CVolume*> SelectedVolume{nullptr};
    std::atomic<CVolume*> ActiveVolume{nullptr};
    std::atomic<CVolume*> LastAnalysedVolume{nullptr};

    // Threads that run on their own (information queries) count themselves here, so the
    // computer outlives them.
    void BeginBackgroundWork();
    void EndBackgroundWork();

    // Carved photos are named by their capture time and camera (the default), or by
    // their offset as they always were; set before a sector phase starts.
    void SetPhotosNamedByCapture(bool byCapture) { photosNamedByCapture_ = byCapture; }
    bool PhotosNamedByCapture() const { return photosNamedByCapture_.load(); }

  private:
    void RunPhaseThread(CVolume& volume, const char* failureText, std::function<void()> body);
    void ReadAllSectors(CVolume& volume, std::atomic<bool>& done, ScannerWatch& watch);
    void RemoveFromQueue(CVolume& volume);

    core::CApp& app_;
    mutable std::mutex queueMutex_;
    std::vector<CVolume*> analysisQueue_;
    ScannerFactory scannerFactory_ = MakeSignatureScanner;
    FileSystemFactory fileSystemFactory_;
    Question ask_;
    platform::SystemRoots roots_;
    std::shared_ptr<platform::DeviceOpener> opener_;
    core::CLog log_;
    core::CFileFilter filter_;
    std::atomic<std::uint64_t> idCounter_{NodeId::FirstCounterValue};
    signatures::SignatureDatabase signatures_;
    std::unique_ptr<CVolume> computerRoot_;
    std::unique_ptr<CVolume> imagesRoot_;

    std::mutex backgroundMutex_;
    std::condition_variable backgroundDone_;
    int backgroundThreads_ = 0;

    CVolumesList volumes_;
    std::unique_ptr<platform::MediaMonitor> monitor_;
    std::atomic<bool> photosNamedByCapture_{true};
};

}  // namespace duzez::devices
