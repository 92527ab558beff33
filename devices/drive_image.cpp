#include "devices/drive_image.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <span>

#include "core/log.h"
#include "devices/local_computer.h"
#include "devices/volume.h"
#include "filesystems/salvaging_read.h"
#include "platform/device_identity.h"
#include "platform/file_io.h"
#include "platform/file_owner.h"
#include "platform/unique_fd.h"

namespace duzez::devices {
namespace {

void Post(const ImageJob& job, std::uint32_t id, std::int64_t lParam = 0) {
    if (job.NotifyWindow)
        job.NotifyWindow->Post({id, 0, lParam, {}});
}

// The longest proposed name: with "." and the extension it is one 255-byte file name.
constexpr std::size_t kMaxProposedBytes = 255 - 1 - kImageExtension.size();

// Length of the valid UTF-8 sequence at `text[i]`, or 0 when the bytes there are none
// (stray continuation bytes, overlong forms, surrogates, beyond U+10FFFF, cut short).
std::size_t Utf8SequenceAt(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    if (byte(i + 1) < low || byte(i + 1) > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF)
            return 0;
    }
    return length;
}

// One part of a file name from bytes read off a disk: separators, control characters
// (C0, DEL and C1) and bytes that are no UTF-8 become '_', so the name shows as it will
// be created; at most `limit` bytes, never cutting a character.
std::string CleanNamePart(std::string_view text, std::size_t limit) {
    std::string clean;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Utf8SequenceAt(text, i);
        std::string_view piece = text.substr(i, length == 0 ? 1 : length);
        const auto lead = static_cast<unsigned char>(piece[0]);
        const bool control =
            lead < 0x20 || lead == 0x7F ||
            (length == 2 && lead == 0xC2 && static_cast<unsigned char>(piece[1]) <= 0x9F);
        if (length == 0 || control || piece == "/")
            piece = "_";
        if (clean.size() + piece.size() > limit)
            break;
        clean += piece;
        i += length == 0 ? 1 : length;
    }
    return clean;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\0'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.remove_suffix(1);
    return text;
}

}  // namespace

std::string ProposedImageName(std::string_view drive, std::string_view label) {
    static constexpr std::string_view kPrefix = "Image from drive";
    // The designation is short (a letter, a kernel name); the label gets what is left.
    std::string name(kPrefix);
    const std::string cleanDrive = CleanNamePart(TrimBlanks(drive), 64);
    if (!cleanDrive.empty())
        name += " " + cleanDrive;
    label = TrimBlanks(label);
    if (!label.empty()) {
        const std::size_t room = kMaxProposedBytes - name.size() - 3;  // " (" and ")"
        const std::string cleanLabel = CleanNamePart(label, room);
        if (!cleanLabel.empty())
            name += " (" + cleanLabel + ")";
    }
    return name;
}

std::string ProposedImageName(const CVolume& volume) {
    const char letter = volume.DriveLetter;
    if ((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z'))
        return ProposedImageName(std::string_view(&letter, 1), volume.VolumeLabel);
    std::string drive = volume.KernelName;
    if (drive.empty() && volume.VolumeType == VolumeKind::Image)
        drive = std::filesystem::path(volume.DevicePath).stem().string();
    if (drive.empty())
        drive = volume.DisplayName;
    return ProposedImageName(drive, volume.VolumeLabel);
}

std::string BadRangesPath(const std::filesystem::path& image) {
    return image.string() + ".bad";
}

namespace {

// A new file beside the image, like the image itself: never one that exists, never
// through a link.
bool WriteBadRanges(const ImageJob& job) {
    platform::UniqueFd file = platform::CreateFileFor(BadRangesPath(job.ImagePath), job.Owner);
    if (!file)
        return false;
    std::string text;
    for (const auto& [first, count] : job.BadRanges)
        text += std::to_string(first) + ' ' + std::to_string(count) + '\n';
    std::size_t written = 0;
    return platform::WriteAll(
               file.get(),
               std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
               written) == 0 &&
           ::close(file.release()) == 0;
}

}  // namespace

void Image_Create(ImageJob& job) {
    CVolume& volume = *job.SourceVolume;
    core::CLog& log = volume.Computer().Log();
    job.StartTime = std::chrono::system_clock::now();
    job.StartTicks = std::chrono::steady_clock::now();
    if (!volume.OpenDrive()) {
        job.Error = "the drive cannot be opened";
        job.Finished = true;
        return;
    }
    // A new file only: an existing file is never replaced from here.
    platform::UniqueFd file = platform::CreateFileFor(job.ImagePath, job.Owner);
    if (!file) {
        const int code = errno;
        job.Error = std::string("cannot create the image file: ") + std::strerror(code);
        Post(job, WM_IMAGE_NOT_CREATED, code);
        job.Finished = true;
        return;
    }
    job.TotalSectors = volume.TotalSectors != 0 ? volume.TotalSectors : volume.TotalSize / 512;
    job.ImageRunning = true;
    std::vector<std::uint8_t> buffer(ImageJob::kBlockSectors * 512);
    std::uint64_t position = 0;
    while (position < job.TotalSectors && job.ImageRunning && !job.StopRequested) {
        job.CurrentSector = position;
        const std::uint64_t count = std::min(ImageJob::kBlockSectors, job.TotalSectors - position);
        const std::span<std::uint8_t> block(buffer.data(), static_cast<std::size_t>(count * 512));
        if (volume.ReadSectors(block, position, count) == 0) {
            if (!job.SkipBadSectors) {
                log.LogErrorMessage(core::StringId::ImageCantReadSector,
                                    static_cast<unsigned long long>(position));
                job.Error = "a block could not be read";
                break;
            }
            for (const auto& range : filesystems::SalvageSectors(volume, block, position, count)) {
                job.BadRanges.emplace_back(range.firstSector, range.sectorCount);
            }
        }
        // A block written in part leaves a gap the next block would hide: the copy stops.
        std::size_t written = 0;
        if (const int code = platform::WriteAll(file.get(), block, written); code != 0) {
            log.LogErrorMessage(core::StringId::ImageCantWriteSector,
                                static_cast<unsigned long long>(position));
            job.Error = std::string("cannot write the image file: ") + std::strerror(code);
            job.SectorsWritten = position + written / 512;
            break;
        }
        Post(job, WM_IMAGE_BLOCK_WRITTEN);
        position += count;
        job.SectorsWritten = position;
    }
    if (::fsync(file.get()) != 0 && job.Error.empty()) {
        job.Error = std::string("cannot flush the image file: ") + std::strerror(errno);
    }
    file.reset();
    volume.Close();
    if (!job.BadRanges.empty() && !WriteBadRanges(job) && job.Error.empty())
        job.Error = "cannot write the list of unreadable sectors " + BadRangesPath(job.ImagePath);
    job.ImageRunning = false;
    job.Finished = true;
    Post(job, WM_IMAGE_ENDED);
}

void ImageCopy::Start() {
    source_ = Job.SourceVolume->weak_from_this().lock();
    thread_ = std::thread([this] { Image_Create(Job); });
}

void ImageCopy::Stop() {
    Job.StopRequested = true;
    Job.ImageRunning = false;
}

void ImageCopy::Wait() {
    if (thread_.joinable())
        thread_.join();
}

ImageCopy::~ImageCopy() {
    Stop();
    Wait();
}

std::unique_ptr<ImageCopy> CreateImage(CVolume& volume, const std::filesystem::path& path,
                                       std::shared_ptr<platform::MessageTarget> notify,
                                       bool skipBadSectors, std::string& error,
                                       const std::optional<platform::FileOwner>& owner) {
    std::error_code ec;
    for (const std::filesystem::path& taken :
         {path, std::filesystem::path(skipBadSectors ? BadRangesPath(path) : "")}) {
        if (!taken.empty() && std::filesystem::symlink_status(taken, ec).type() !=
                                  std::filesystem::file_type::not_found) {
            error =
                "'" + taken.string() + "' exists already; an image is written to a new file only";
            return nullptr;
        }
    }
    if (platform::PathLiesOnSource(path, volume.GetDevicePath(), volume.Computer().Roots().sys)) {
        error = "'" + path.string() +
                "' lies on the drive being imaged; write the image to another drive";
        return nullptr;
    }
    auto copy = std::make_unique<ImageCopy>();
    copy->Job.NotifyWindow = std::move(notify);
    copy->Job.SourceVolume = &volume;
    copy->Job.ImagePath = path;
    copy->Job.SkipBadSectors = skipBadSectors;
    copy->Job.Owner = owner;
    copy->Start();
    return copy;
}

}  // namespace duzez::devices
