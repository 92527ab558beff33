#include "devices/drive_image.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "core/log.h"
#include "devices/local_computer.h"
#include "devices/volume.h"
#include "filesystems/salvaging_read.h"
#include "platform/device_identity.h"
#include "platform/file_io.h"
#include "platform/unique_fd.h"

namespace duzez::devices {
namespace {

void Post(const ImageJob& job, std::uint32_t id, std::int64_t lParam = 0) {
    if (job.NotifyWindow)
        job.NotifyWindow->Post({id, 0, lParam, {}});
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
    platform::UniqueFd file(
        ::open(job.ImagePath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
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
    while (position < job.TotalSectors && job.ImageRunning) {
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
    if (!job.BadRanges.empty()) {
        std::ofstream bad(job.ImagePath.string() + ".bad", std::ios::trunc);
        for (const auto& [first, count] : job.BadRanges)
            bad << first << ' ' << count << '\n';
    }
    job.ImageRunning = false;
    job.Finished = true;
    Post(job, WM_IMAGE_ENDED);
}

void ImageCopy::Start() {
    source_ = Job.SourceVolume->weak_from_this().lock();
    thread_ = std::thread([this] { Image_Create(Job); });
}

void ImageCopy::Wait() {
    if (thread_.joinable())
        thread_.join();
}

ImageCopy::~ImageCopy() {
    Job.ImageRunning = false;
    Wait();
}

std::unique_ptr<ImageCopy> CreateImage(CVolume& volume, const std::filesystem::path& path,
                                       std::shared_ptr<platform::MessageTarget> notify,
                                       bool skipBadSectors, std::string& error) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        error = "'" + path.string() + "' exists already; an image is written to a new file only";
        return nullptr;
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
    copy->Start();
    return copy;
}

}  // namespace duzez::devices
