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
    // 1 MiB: a block is scanned while it is still in the processor cache, as the reader
    // fills the other buffer. Blocks of 10 MiB had left the cache by the time they were
    // scanned and halved the phase.
    static constexpr std::uint64_t kBlockSectors = 2048;

    virtual ~ChunkScanner() = default;
    // The buffer the reader fills: kBlockSectors sectors.
    virtual std::span<std::uint8_t> Buffer() = 0;
    // True when Buffer() is free while the block handed over last is being scanned, so the
    // reader can read the next block meanwhile (two buffers taking turns).
    virtual bool ReadsWhileScanning() const { return false; }
    // Hands the first `sectors` sectors of the buffer, which start at `firstSector` of
    // the volume, to the scanner. The previous block must be done.
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
