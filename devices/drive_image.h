#pragma once

// Drive images: a volume copied sector by sector into a raw file, in 2 MiB blocks, on its
// own thread, and image files loaded as volumes.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/file_owner.h"
#include "platform/messages.h"

namespace duzez::devices {

class CVolume;

constexpr std::uint32_t WM_IMAGE_BLOCK_WRITTEN = 0x8000 + 213;
constexpr std::uint32_t WM_IMAGE_NOT_CREATED = 0x8000 + 214;  // lParam: errno
constexpr std::uint32_t WM_IMAGE_ENDED = 0x8000 + 215;

struct ImageJob {
    static constexpr std::uint64_t kBlockSectors = 4096;  // 2 MiB

    std::atomic<bool> ImageRunning{false};  // clearing it stops the copy before its next block
    // A stop asked for before the copy raised ImageRunning, which would otherwise undo it.
    std::atomic<bool> StopRequested{false};
    std::shared_ptr<platform::MessageTarget> NotifyWindow;
    CVolume* SourceVolume = nullptr;
    std::atomic<std::uint64_t> TotalSectors{0};
    std::atomic<std::uint64_t> CurrentSector{0};
    std::filesystem::path ImagePath;
    std::chrono::system_clock::time_point StartTime;
    std::chrono::steady_clock::time_point StartTicks;

    // Beyond the plain copy, for failing cards: go on past unreadable sectors (zeros in the
    // image) and list their ranges in "<image>.bad".
    bool SkipBadSectors = false;
    // Given the new image and its list of bad ranges (the command line run through sudo).
    std::optional<platform::FileOwner> Owner;

    // What happened, for the front end.
    std::atomic<bool> Finished{false};
    std::atomic<std::uint64_t> SectorsWritten{0};
    std::vector<std::pair<std::uint64_t, std::uint64_t>> BadRanges;  // first sector, count
    std::string Error;  // why the copy could not start or ended early; "" when complete
};

// The copy itself; runs on the calling thread.
void Image_Create(ImageJob& job);

// A running copy. Destroying it stops the copy and waits for its thread.
class ImageCopy {
  public:
    ImageCopy() = default;
    ~ImageCopy();
    ImageCopy(const ImageCopy&) = delete;
    ImageCopy& operator=(const ImageCopy&) = delete;

    ImageJob Job;
    void Start();
    // Asks the copy to end before its next block, whether or not it has begun; the file
    // keeps what was written.
    void Stop();
    void Wait();

  private:
    std::shared_ptr<CVolume> source_;  // keeps the volume alive while the copy reads it
    std::thread thread_;
};

// The file name the image dialog proposes for a volume, without the extension the dialog
// adds ("dsk"): "Image from drive %C", or "Image from drive %C (%s)" with the volume's
// label. Here volumes have no drive letter; the device's kernel name ("sdb1") stands in,
// or for an image file its name without extension. Labels come from the disk: the result
// is always one plain name (no '/', no control characters, valid UTF-8, never "." or
// "..") that fits, with ".dsk", the 255-byte name limit.
std::string ProposedImageName(const CVolume& volume);
// The same from the drive's designation and its label.
std::string ProposedImageName(std::string_view drive, std::string_view label);

constexpr std::string_view kImageExtension = "dsk";

// "<image>.bad": the unreadable sectors' ranges of a copy that skipped them.
std::string BadRangesPath(const std::filesystem::path& image);

// Starts imaging `volume` into a new file `path`, given to `owner` when set. Null with
// `error` set when the file (or, skipping bad sectors, its list of them) exists already or
// lies on the volume itself.
std::unique_ptr<ImageCopy> CreateImage(CVolume& volume, const std::filesystem::path& path,
                                       std::shared_ptr<platform::MessageTarget> notify,
                                       bool skipBadSectors, std::string& error,
                                       const std::optional<platform::FileOwner>& owner = {});

}  // namespace duzez::devices
