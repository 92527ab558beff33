// The analysis of a volume: initialisation, the file-system phase and the sector phase,
// on worker threads, with progress, timing and the window messages of each step.

#include <algorithm>
#include <exception>
#include <optional>
#include <thread>

#include "core/log.h"
#include "core/window_messages.h"
#include "devices/local_computer.h"
#include "filesystems/forwarding_volume.h"
#include "platform/byte_order.h"
#include "platform/thread_priority.h"
#include "signatures/analyser.h"
#include "signatures/rejoined_photos.h"

namespace duzez::devices {
namespace {

constexpr std::uint32_t WM_FILE_SYSTEM_PHASE_ENDED = core::WM_APP + 107;
constexpr std::uint32_t WM_SECTOR_PHASE_ENDED = core::WM_APP + 108;
constexpr std::uint32_t WM_ANALYSIS_ENDED = core::WM_APP + 111;
constexpr std::uint32_t WM_SECTOR_PHASE_STARTED = core::WM_APP + 509;
constexpr std::chrono::milliseconds kReaderWait{180000000};

using Clock = std::chrono::steady_clock;

void PostTo(core::CApp& app, std::uint32_t id, const CVolume* volume) {
    if (auto window = app.MainWindow()) {
        window->Post({id, reinterpret_cast<std::uintptr_t>(volume), 0, {}});
    }
}

void LogDuration(core::CLog& log, Clock::time_point start) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    log.LogMessage(core::StringId::AnalysisDuration, static_cast<int>(ms / 60000),
                   static_cast<int>((ms / 1000) % 60));
}

static_assert(signatures::CAnalyser::kBufferBytes == ChunkScanner::kBlockSectors * 512,
              "the scanner's buffers hold exactly one block");

// The volume as one scanner sees it. A scanner given up on (stuck on a block) must not
// read, report or run any more while it is being ended, and must end soon: its worker
// tests the running flag at every sector.
class ScannedVolume : public filesystems::ForwardingVolume {
  public:
    explicit ScannedVolume(CVolume& volume) : ForwardingVolume(volume) {}
    void Abandon() { abandoned_ = true; }
    bool Abandoned() const { return abandoned_.load(); }

    std::uint32_t ReadVolumeSectors(std::span<std::uint8_t> buffer, std::uint64_t sector,
                                    std::uint64_t count) override {
        return Abandoned() ? 0 : ForwardingVolume::ReadVolumeSectors(buffer, sector, count);
    }
    void AddFileSystemObject(const filesystems::FoundObject& record) override {
        if (!Abandoned())
            ForwardingVolume::AddFileSystemObject(record);
    }
    bool AnalysisRunning() const override {
        return !Abandoned() && ForwardingVolume::AnalysisRunning();
    }

  private:
    std::atomic<bool> abandoned_{false};
};

class SignatureScanner : public ChunkScanner {
  public:
    explicit SignatureScanner(CVolume& volume)
        : scanned_(volume),
          analyser_(volume.Computer().Signatures(), scanned_,
                    [this, &volume](filesystems::FoundObject item) {
                        // What a scanner given up on still finds is found again by the
                        // one that reads its block anew.
                        if (!scanned_.Abandoned())
                            volume.OnFoundItem(std::move(item));
                    }) {
        analyser_.SetPhotoNaming(volume.Computer().PhotosNamedByCapture());
    }
    std::span<std::uint8_t> Buffer() override { return analyser_.ScanBuffer(); }
    bool ReadsWhileScanning() const override { return true; }
    void StartChunk(std::uint64_t firstSector, std::uint32_t sectors) override {
        analyser_.StartChunk(firstSector, sectors);
    }
    bool WaitChunkDone(std::chrono::milliseconds limit) override {
        return analyser_.WaitChunkDone(limit);
    }
    void Abandon() { scanned_.Abandon(); }

  private:
    ScannedVolume scanned_;  // before the analyser, whose worker uses it to the end
    signatures::CAnalyser analyser_;
};

void Abandon(ChunkScanner* scanner) {
    if (auto* signature = dynamic_cast<SignatureScanner*>(scanner))
        signature->Abandon();
}

}  // namespace

// The block the scanner has and since when, shared by the sector reader and the thread
// that waits for it. That thread is the watchdog: a scanner stuck in a read of the
// volume holds the volume's read lock, and the reader, waiting for that lock to read the
// next block, could not see the scanner stall.
struct ScannerWatch {
    std::mutex mutex;
    ChunkScanner* scanner = nullptr;  // null while a stuck one is being ended
    bool busy = false;                // a block was handed over and is not known done
    Clock::time_point since;
    bool stalled = false;  // given up on: its reads are cancelled until it has ended
};

void LogAnalysisDuration(core::CLog& log, std::chrono::milliseconds elapsed) {
    const auto ms = elapsed.count();
    log.LogMessage(core::StringId::AnalysisDuration, static_cast<int>(ms / 60000),
                   static_cast<int>((ms / 1000) % 60));
}

// Photos a camera wrote in two pieces around other files, looked for once every carved
// file's place is known. The views read the objects meanwhile: they change under the lock.
void RejoinPhotoPieces(CVolume& volume, core::CLog& log, const std::atomic<bool>& running) {
    if (volume.FoundObjectTree == nullptr)
        return;
    filesystems::FoundObjectTree& tree = *volume.FoundObjectTree;
    const std::vector<filesystems::FoundObject*> objects = tree.ListedObjects();
    const bool clustersKnown = volume.FileSystem != nullptr &&
                               volume.FileSystem->FileSystemId != filesystems::FileSystemIds::None;
    const std::vector<signatures::Rejoined> rejoined =
        signatures::FindRejoinedPhotos(volume, objects, clustersKnown ? volume.ClusterSize : 0,
                                       [&running] { return !running.load(); });
    if (rejoined.empty())
        return;
    {
        const auto lock = tree.WriteLock();
        for (const signatures::Rejoined& found : rejoined)
            signatures::Rejoin(found);
    }
    log.LogInfo("Photos rejoined from two pieces: " + std::to_string(rejoined.size()));
}

std::unique_ptr<ChunkScanner> MakeSignatureScanner(CVolume& volume) {
    return std::make_unique<SignatureScanner>(volume);
}

void CLocalComputer::RunPhaseThread(CVolume& volume, const char* failureText,
                                    std::function<void()> body) {
    BeginBackgroundWork();
    volume.MarkAnalysisThread(true);  // alive from now; the thread takes it over
    std::thread([this, self = volume.shared_from_this(), failureText, body = std::move(body)] {
        self->MarkAnalysisThread(true);
        platform::LowerCurrentThreadPriority();
        try {
            body();
        } catch (const std::exception&) {
            log_.LogError(failureText);
            self->VolumeState = VolumeStatus::Ready;
        }
        self->MarkAnalysisThread(false);
        EndBackgroundWork();
    }).detach();
}

void CLocalComputer::StartAnalysis(CVolume& volume) {
    if (volume.VolumeState == VolumeStatus::SectorPhase)
        return;
    if (!app_.AnalysisRunning.exchange(true)) {
        SelectedVolume = ActiveVolume = LastAnalysedVolume = &volume;
        if (!volume.AnalysisThreadAlive()) {
            RunPhaseThread(volume, "pVolume->Analyse_Do.FatalError", [this, &volume] {
                log_.LogMessage(core::StringId::InitializingDrive, volume.DisplayNameText());
                if (volume.OpenDrive()) {
                    volume.VolumeState = VolumeStatus::FileSystemPhase;
                    volume.BootObject = filesystems::FoundObject{};
                    volume.BootObject.Start = 0;
                    volume.BootObject.Size = 1024;
                    volume.BootObject.SetName("BOOT");
                    volume.FoundObjectTree->AddObject(&volume.BootObject, true);
                    volume.Analyse_Boot();
                    AnalyseFileSystem(volume);
                    if (app_.Settings().ContinueWithSectors() &&
                        volume.VolumeState == VolumeStatus::Ready && app_.AnalysisRunning) {
                        volume.VolumesOnly = 0;
                        AnalyseSectors(volume);
                    }
                }
                FinishAnalysis(volume);
            });
        }
    }
    std::lock_guard lock(queueMutex_);
    if (std::find(analysisQueue_.begin(), analysisQueue_.end(), &volume) == analysisQueue_.end()) {
        analysisQueue_.push_back(&volume);
    }
}

void CLocalComputer::FinishAnalysis(CVolume& volume) {
    app_.AnalysisRunning = false;
    RemoveFromQueue(volume);
    volume.VolumeState = VolumeStatus::Ready;
    PostTo(app_, WM_ANALYSIS_ENDED, &volume);
}

void CLocalComputer::RemoveFromQueue(CVolume& volume) {
    std::lock_guard lock(queueMutex_);
    std::erase(analysisQueue_, &volume);
}

std::vector<CVolume*> CLocalComputer::AnalysisQueue() const {
    std::lock_guard lock(queueMutex_);
    return analysisQueue_;
}

void CLocalComputer::AnalyseFileSystem(CVolume& volume) {
    volume.FoldersFound = 0;
    volume.FilesFound = 0;
    const auto start = Clock::now();
    volume.ProgressPosition = 0;
    // The running flag was raised by whoever started this phase; raising it again here
    // would undo a stop that came in the meantime.
    volume.VolumeState = VolumeStatus::FileSystemPhase;
    log_.ShowStatus(core::StringId::AnalyzingFileSystem, 0);
    log_.LogMessage(core::StringId::BeginningFileSystemAnalysis);

    filesystems::FoundObjectTree& tree = *volume.FoundObjectTree;
    tree.Clear();
    volume.SyncTreeNode();
    tree.AddObject(&volume.TreeNode, true);
    // The boot area stays recoverable: the object made at the start of this analysis is
    // put back after the tree was emptied.
    if (volume.BootObject.Is(filesystems::ObjectFlags::Named))
        tree.AddObject(&volume.BootObject, true);

    const std::uint32_t id = volume.FileSystem->FileSystemId;
    namespace Ids = filesystems::FileSystemIds;
    std::optional<std::uint64_t> rootId;
    if (id == Ids::Fat12 || id == Ids::Fat16)
        rootId = 0;
    if (id == Ids::Fat32) {
        // The root folder is named by the root directory's first cluster, which is
        // usually but not always 2: a folder at cluster 2 must not merge into the root.
        const auto rootCluster = platform::ReadLe<std::uint32_t>(volume.BootSectorBytes(), 44);
        rootId = rootCluster && *rootCluster >= 2 && *rootCluster <= 0x0FFFFFFF ? *rootCluster : 2;
    }
    if (id == Ids::Ntfs)
        rootId = 5;
    if (id == Ids::ExFat) {
        // Named by the root directory's first cluster, as on FAT32; entry ids carry a high
        // bit, so they never meet it.
        const auto rootCluster = platform::ReadLe<std::uint32_t>(volume.BootSectorBytes(), 96);
        rootId = rootCluster && *rootCluster >= 2 ? *rootCluster : 2;
    }
    if (!rootId) {
        log_.LogMessage(core::StringId::NoFileSystemDetected);
    } else {
        if (fileSystemFactory_) {
            if (auto analyser = fileSystemFactory_(volume, id)) {
                analyser->FileSystemId = volume.FileSystem->FileSystemId;
                analyser->FileSystemName = volume.FileSystem->FileSystemName;
                volume.FileSystem = std::move(analyser);
            }
        }
        tree.RootFolder().Id = *rootId;
        tree.RootFolder().ParentId = volume.Id;
        tree.AddObject(&tree.RootFolder(), true);
        volume.FileSystem->Analyse();
    }
    PostTo(app_, WM_FILE_SYSTEM_PHASE_ENDED, nullptr);
    volume.VolumeState = VolumeStatus::Ready;
    volume.FileSystemPhaseRunning = 0;
    LogDuration(log_, start);
    log_.LogMessage(core::StringId::AnalysisCompleted, volume.FoldersFound.load(),
                    volume.FilesFound.load());
}

void CLocalComputer::AddFileSystemObject(CVolume& volume, const filesystems::FoundObject& record) {
    filesystems::FoundObject* object = volume.FoundObjectTree->MergeObject(record);
    if (object == nullptr)
        return;
    volume.FileSystemPhaseRunning = 1;
    if (object->Is(filesystems::ObjectFlags::Folder)) {
        ++volume.FoldersFound;
    } else {
        ++volume.FilesFound;
        if (app_.Settings().LogFoundFileNames()) {
            log_.LogMessage(core::StringId::FoundFile, std::string(object->GetName()));
        }
    }
}

void CLocalComputer::StartFileSystemAnalysis(CVolume& volume) {
    app_.AnalysisRunning = true;
    ActiveVolume = LastAnalysedVolume = &volume;
    volume.ProgressPosition = 0;
    volume.ProgressEnd = volume.TotalClusters;
    RunPhaseThread(volume, "AnalyseFileSystem.FatalError", [this, &volume] {
        if (!app_.AnalysisRunning)
            return;  // stopped (by a rescan that dropped the volume) before it began
        volume.VolumeState = VolumeStatus::FileSystemPhase;
        AnalyseFileSystem(volume);
        volume.VolumeState = VolumeStatus::Ready;
        app_.AnalysisRunning = false;
    });
}

void CLocalComputer::StartSectorAnalysis(CVolume& volume, bool volumesOnly) {
    app_.AnalysisRunning = true;
    volume.VolumesOnly = volumesOnly ? 1 : 0;
    volume.ProgressPosition = 0;
    volume.ProgressEnd = volume.TotalClusters;
    ActiveVolume = &volume;
    volume.SectorPhaseRunning = 1;
    RunPhaseThread(volume, "AnalyseSectors.FatalError", [this, &volume] {
        if (!app_.AnalysisRunning) {
            volume.SectorPhaseRunning = 0;
            return;  // stopped before it began
        }
        volume.VolumeState = VolumeStatus::SectorPhase;
        AnalyseSectors(volume);
    });
}

void CLocalComputer::AnalyseSectors(CVolume& volume) {
    volume.SectorFoldersFound = 0;
    volume.SectorFilesFound = 0;
    ActiveVolume = &volume;
    volume.VolumeState = VolumeStatus::SectorPhase;
    log_.ShowStatus(core::StringId::AnalyzingDriveSectors, 0);
    const auto start = Clock::now();
    volume.FoundObjectTree->BuildStartIndex();
    PostTo(app_, WM_SECTOR_PHASE_STARTED, &volume);
    volume.SectorPhaseRunning = 1;
    volume.ProgressEnd = volume.TotalSectors;
    log_.LogMessage(core::StringId::StartingSectorAnalysis);
    if (volume.OpenDrive()) {
        // The reader runs on its own thread; this one waits for its signal and watches
        // the scanner meanwhile.
        std::atomic<bool> done{false};
        std::mutex mutex;
        std::condition_variable finished;
        ScannerWatch watch;
        std::thread reader([&] {
            platform::LowerCurrentThreadPriority();
            try {
                ReadAllSectors(volume, done, watch);
            } catch (const std::exception&) {
                log_.LogError("AnalyseSectors.FatalError");
            }
            std::lock_guard lock(mutex);
            done = true;
            finished.notify_all();
        });
        const auto look = std::clamp<std::chrono::milliseconds>(
            ScannerBlockWait / 4, std::chrono::milliseconds(5), std::chrono::milliseconds(250));
        const auto deadline = Clock::now() + kReaderWait;
        std::unique_lock lock(mutex);
        while (!finished.wait_for(lock, look, [&] { return done.load(); })) {
            if (Clock::now() >= deadline) {
                volume.CancelRead();
                break;
            }
            bool cancel = false;
            {
                std::lock_guard watchLock(watch.mutex);
                if (watch.busy && !watch.stalled && watch.scanner != nullptr &&
                    Clock::now() - watch.since > ScannerBlockWait &&
                    !watch.scanner->WaitChunkDone(std::chrono::milliseconds(0))) {
                    watch.stalled = true;
                    Abandon(watch.scanner);
                }
                // Poked until the stuck scanner lets go: its read may not have begun.
                cancel =
                    watch.stalled && (watch.scanner == nullptr ||
                                      !watch.scanner->WaitChunkDone(std::chrono::milliseconds(0)));
            }
            if (cancel)
                volume.CancelRead();
        }
        lock.unlock();
        reader.join();
        // The reader lowers the running flag when it ends; raised again, a stop still ends
        // the rejoining.
        const bool scannedAll =
            volume.ProgressPosition.load() >= volume.TotalSize / CVolume::kSectorSize;
        if (scannedAll && !app_.AnalysisRunning.exchange(true)) {
            RejoinPhotoPieces(volume, log_, app_.AnalysisRunning);
            app_.AnalysisRunning = false;
        }
    }
    volume.VolumeState = VolumeStatus::Ready;
    volume.SectorPhaseRunning = 0;
    PostTo(app_, WM_SECTOR_PHASE_ENDED, &volume);
    log_.LogMessage(core::StringId::AnalysisCompleted, volume.SectorFoldersFound.load(),
                    volume.SectorFilesFound.load());
    LogDuration(log_, start);
    volume.Close();
}

void CLocalComputer::ReadAllSectors(CVolume& volume, std::atomic<bool>& done, ScannerWatch& watch) {
    std::unique_ptr<ChunkScanner> scanner = scannerFactory_(volume);
    {
        std::lock_guard lock(watch.mutex);
        watch.scanner = scanner.get();
    }
    const std::uint64_t total = volume.TotalSize / CVolume::kSectorSize;
    volume.ProgressPosition = 0;
    struct Block {
        std::uint64_t first = 0;
        std::uint64_t sectors = 0;
    };
    std::optional<Block> handed;   // the block the scanner has, not known to be done
    std::optional<Block> retried;  // a block a stuck scanner left, read once again
    // Ends a stuck scanner and starts a new one. The block read into its buffer meanwhile
    // goes with it.
    const auto replace = [&] {
        {
            std::lock_guard lock(watch.mutex);
            watch.stalled = true;
            Abandon(scanner.get());
            watch.scanner = nullptr;
        }
        // Given up on, it leaves its block at the next sector it tests; a read it is stuck
        // in is cancelled (here, and by the watchdog). It is destroyed only once idle: the
        // scanner is not made to be destroyed in the middle of a block.
        while (!scanner->WaitChunkDone(std::chrono::milliseconds(50)))
            volume.CancelRead();
        scanner.reset();
        scanner = scannerFactory_(volume);
        std::lock_guard lock(watch.mutex);
        watch.scanner = scanner.get();
        watch.busy = false;
        watch.stalled = false;
    };
    // Waits for the block handed over last. After a stall the position to read from:
    // the stuck block once more (its hits after the stall were never reported), or, when
    // it stalled a second time, the block after it, which then counts as done.
    const auto settle = [&]() -> std::optional<std::uint64_t> {
        if (!handed)
            return std::nullopt;
        const Block block = *handed;
        handed.reset();
        bool finished = scanner->WaitChunkDone(ScannerBlockWait);
        {
            std::lock_guard lock(watch.mutex);
            finished = finished && !watch.stalled;
            if (finished)
                watch.busy = false;
        }
        if (finished)
            return std::nullopt;
        replace();
        const bool again = retried && retried->first == block.first;
        retried = block;
        return again ? block.first + block.sectors : block.first;
    };
    std::uint64_t position = 0;
    while (app_.AnalysisRunning && !done) {
        while (position < total && app_.AnalysisRunning && !done) {
            volume.AnalysisGate.Pass(&app_.AnalysisRunning);
            if (!app_.AnalysisRunning)
                break;
            std::uint64_t chunk = std::min(total - position, ChunkScanner::kBlockSectors);
            // With two buffers this read overlaps the scan of the block before.
            const std::uint32_t bytes = volume.ReadSectors(scanner->Buffer(), position, chunk);
            if (const auto from = settle()) {
                position = *from;
                continue;
            }
            if (bytes >= CVolume::kSectorSize) {
                const std::uint64_t read = bytes / CVolume::kSectorSize;
                scanner->StartChunk(position, static_cast<std::uint32_t>(read));
                handed = Block{position, read};
                {
                    std::lock_guard lock(watch.mutex);
                    watch.busy = true;
                    watch.since = Clock::now();
                }
                chunk = read;
                if (!scanner->ReadsWhileScanning()) {
                    if (const auto from = settle()) {
                        position = *from;
                        continue;
                    }
                }
            }
            // An unreadable block, or one shorter than a sector, is skipped whole.
            position += chunk;
            volume.ProgressPosition = std::max(volume.ProgressPosition.load(), position);
        }
        // The last block may be the one a scanner sticks on.
        const auto from = settle();
        if (!from)
            break;
        position = *from;
    }
    app_.AnalysisRunning = false;
}

bool CLocalComputer::StopAnalysis(CVolume& volume, bool silent) {
    const std::uint32_t state = volume.VolumeState;
    if (!silent && app_.Settings().ConfirmScanAbort() &&
        (state == VolumeStatus::SectorPhase || state == VolumeStatus::FileSystemPhase) &&
        !Ask(core::StringId::Confirmation, core::StringId::ConfirmStopScanning)) {
        return false;
    }
    app_.AnalysisRunning = false;
    RemoveFromQueue(volume);
    volume.VolumeState = VolumeStatus::Ready;
    if (volume.IsAnalysisThread())
        return true;
    if (volume.WaitForAnalysisThread(StopGrace))
        return true;
    // Threads are not killed: every loop tests the running flag, so the thread ends at
    // its next block or entry, releasing the handle and the tree as it goes.
    log_.LogMessage(core::StringId::AnalysisStopped, volume.DisplayNameText());
    return true;
}

}  // namespace duzez::devices
