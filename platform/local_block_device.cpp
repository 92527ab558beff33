#include <fcntl.h>
#include <linux/fs.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/block_device.h"
#include "platform/unique_fd.h"

namespace duzez::platform {
namespace {

// A signal whose only job is to interrupt a blocked pread (installed without SA_RESTART).
int InterruptSignal() {
    static const int signal = [] {
        const int number = SIGRTMIN + 3;
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        ::sigaction(number, &action, nullptr);
        return number;
    }();
    return signal;
}

class LocalBlockDevice : public BlockDevice {
  public:
    LocalBlockDevice(UniqueFd fd, std::uint64_t size, std::uint32_t sectorSize)
        : fd_(std::move(fd)), size_(size), sectorSize_(sectorSize) {
        InterruptSignal();
    }

    DeviceReadResult ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
        cancelled_.store(false);
        {
            std::lock_guard lock(readerMutex_);
            reader_ = ::pthread_self();
            reading_ = true;
        }
        ssize_t got = -1;
        int error = 0;
        while (true) {
            got = ::pread(fd_.get(), buffer.data(), buffer.size(), static_cast<off_t>(offset));
            error = errno;
            if (got >= 0 || error != EINTR || cancelled_.load())
                break;
        }
        {
            std::lock_guard lock(readerMutex_);
            reading_ = false;
        }
        if (got < 0) {
            return {cancelled_.load() ? DeviceReadResult::Status::TimedOut
                                      : DeviceReadResult::Status::Failed,
                    0, error};
        }
        return {DeviceReadResult::Status::Ok, static_cast<std::size_t>(got), 0};
    }

    void CancelRead() override {
        cancelled_.store(true);
        std::lock_guard lock(readerMutex_);
        if (reading_) {
            ::pthread_kill(reader_, InterruptSignal());
        }
    }

    std::uint64_t SizeBytes() const override { return size_; }
    std::uint32_t LogicalSectorSize() const override { return sectorSize_; }

  private:
    UniqueFd fd_;
    std::uint64_t size_;
    std::uint32_t sectorSize_;
    std::atomic<bool> cancelled_{false};
    std::mutex readerMutex_;
    pthread_t reader_{};
    bool reading_ = false;
};

class LocalDeviceOpener : public DeviceOpener {
  public:
    std::unique_ptr<BlockDevice> Open(const std::string& path, std::string& error) override {
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd) {
            const int code = errno;
            error = std::strerror(code);
            errno = code;  // for an opener that asks a service when this user may not open
            return nullptr;
        }
        return DeviceFromDescriptor(std::move(fd), error);
    }
};

}  // namespace

std::unique_ptr<BlockDevice> DeviceFromDescriptor(UniqueFd fd, std::string& error) {
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    std::uint64_t size = 0;
    std::uint32_t sectorSize = 512;
    if (S_ISBLK(info.st_mode)) {
        // The size of a block device is never st_size.
        if (::ioctl(fd.get(), BLKGETSIZE64, &size) != 0) {
            error = std::strerror(errno);
            return nullptr;
        }
        int logical = 0;
        if (::ioctl(fd.get(), BLKSSZGET, &logical) == 0 && logical > 0) {
            sectorSize = static_cast<std::uint32_t>(logical);
        }
    } else if (S_ISREG(info.st_mode)) {
        size = static_cast<std::uint64_t>(info.st_size);
    } else {
        error = "not a disk, a partition or an image file";
        return nullptr;
    }
    return std::make_unique<LocalBlockDevice>(std::move(fd), size, sectorSize);
}

std::unique_ptr<DeviceOpener> MakeLocalDeviceOpener() {
    return std::make_unique<LocalDeviceOpener>();
}

}  // namespace duzez::platform
