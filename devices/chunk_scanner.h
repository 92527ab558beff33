#pragma once

// What the sector phase needs of the scanner: a block buffer it reads into, and the
// hand-over of one block at a time to the scanner's own thread.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace duzez::core {
class CLog;
}

namespace duzez::devices {

class CVolume;

class ChunkScanner {
  public:
    static constexpr std::uint64_t kBlockSectors = 20480;  // 10 MiB

    virtual ~ChunkScanner() = default;
    // The buffer the reader fills: kBlockSectors sectors.
    virtual std::span<std::uint8_t> Buffer() = 0;
    // Hands the first `sectors` sectors of the buffer, which start at `firstSector` of
    // the volume, to the scanner.
    virtual void StartChunk(std::uint64_t firstSector, std::uint32_t sectors) = 0;
    // Waits until the scanner is done with the block; false on time-out.
    virtual bool WaitChunkDone(std::chrono::milliseconds limit) = 0;
};

using ScannerFactory = std::function<std::unique_ptr<ChunkScanner>(CVolume&)>;

// "Analysis duration: M minute(s), S second(s)."
void LogAnalysisDuration(core::CLog& log, std::chrono::milliseconds elapsed);

// The signature scanner over the computer's database, handing its finds to the volume.
std::unique_ptr<ChunkScanner> MakeSignatureScanner(CVolume& volume);

}  // namespace duzez::devices
