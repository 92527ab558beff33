#pragma once

// The scanner of the sector phase: its own thread tests every sector of each block the
// reader hands over against every enabled signature, and hands each hit, refined by the
// format probes, to the volume.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "filesystems/analysed_volume.h"
#include "filesystems/found_object.h"
#include "signatures/probes.h"
#include "signatures/sector_matcher.h"

namespace duzez::signatures {

class SignatureDatabase;

class CAnalyser {
  public:
    static constexpr std::size_t kBufferBytes = 0x100000;  // a block of 2048 sectors
    using FoundItem = std::function<void(filesystems::FoundObject)>;

    CAnalyser(const SignatureDatabase& database, filesystems::AnalysedVolume& volume,
              FoundItem onFoundItem, bool startThread = true);
    ~CAnalyser();
    CAnalyser(const CAnalyser&) = delete;
    CAnalyser& operator=(const CAnalyser&) = delete;

    // The buffer to fill with the next block. There are two: while the worker scans the
    // block handed over last, the reader fills the other.
    std::span<std::uint8_t> ScanBuffer() { return buffers_[fill_]; }
    // Hands ScanBuffer() over: its first `sectors` sectors start at `firstSector` of the
    // volume. Call only when the previous block is done; ScanBuffer() then names the other.
    void StartChunk(std::uint64_t firstSector, std::uint64_t sectors);
    bool WaitChunkDone(std::chrono::milliseconds limit);
    // One block, on the calling thread.
    void ScanChunk();
    // Carved photos named by their EXIF capture time and camera, with their capture time
    // as their file time (the default), or left to the format's prefix and the offset.
    void SetPhotoNaming(bool byCapture) { photosByCapture_ = byCapture; }

  private:
    void Run();
    void ScanBlockGuarded();
    // One log line for a block whose scan failed; null `what` for no memory.
    void LogBlockFailure(const char* what) noexcept;
    // Name, file time and RAW type of a carved photo from its EXIF data.
    // `chunk` holds the scanned bytes from the item's start on, as far as the chunk goes.
    void DescribePhoto(filesystems::FoundObject& item, std::span<const std::uint8_t> chunk,
                       const SectorReader& read) const;
    // The extension an ISO media file's major brand calls for (mov, cr3, heic, avif...).
    void NameByBrand(filesystems::FoundObject& item,
                     std::span<const std::uint8_t, kSectorBytes> sector) const;
    bool Running() const { return volume_.AnalysisRunning() && !stop_.load(); }

    const SignatureDatabase& database_;
    filesystems::AnalysedVolume& volume_;
    FoundItem onFoundItem_;
    SectorMatcher matcher_;
    std::vector<std::uint8_t> buffers_[2];
    int fill_ = 0;  // the buffer the reader fills; the other is scanned
    std::span<const std::uint8_t> scanned_;
    std::uint64_t firstSector_ = 0;
    std::uint64_t chunkSectors_ = 0;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<bool> work_{false};  // WorkEvent; set under the mutex, also read spinning
    bool done_ = true;               // DoneEvent
    std::atomic<bool> stop_{false};
    std::atomic<bool> photosByCapture_{true};
    std::thread worker_;
};

}  // namespace duzez::signatures
