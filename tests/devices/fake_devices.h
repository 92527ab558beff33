#pragma once

// Devices and machines for the volume tests: block devices that fail, come back short or
// hang, an opener that hands them out, and a fake sysfs/dev tree.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "platform/block_device.h"

namespace duzez::test {

// Answers every read with what `answer` says; counts reads.
class ScriptedDevice : public platform::BlockDevice {
  public:
    using Answer = std::function<platform::DeviceReadResult(std::uint64_t offset,
                                                            std::span<std::uint8_t> buffer)>;
    ScriptedDevice(std::uint64_t size, Answer answer, std::shared_ptr<std::atomic<int>> reads)
        : size_(size), answer_(std::move(answer)), reads_(std::move(reads)) {}

    platform::DeviceReadResult ReadAt(std::uint64_t offset,
                                      std::span<std::uint8_t> buffer) override {
        ++*reads_;
        return answer_(offset, buffer);
    }
    std::uint64_t SizeBytes() const override { return size_; }

  private:
    std::uint64_t size_;
    Answer answer_;
    std::shared_ptr<std::atomic<int>> reads_;
};

// `bytes` as a device on which sector `badSector` cannot be read. A read over it fails
// whole, or with `shortReads` delivers what lies before it, as a buffered read of a failing
// disk does.
inline std::unique_ptr<ScriptedDevice> DeviceWithBadSector(std::string bytes,
                                                           std::uint64_t badSector,
                                                           bool shortReads = false) {
    const std::uint64_t size = bytes.size();
    return std::make_unique<ScriptedDevice>(
        size,
        [bytes = std::move(bytes), badSector, shortReads](std::uint64_t offset,
                                                          std::span<std::uint8_t> buffer) {
            const std::uint64_t bad = badSector * 512;
            std::size_t readable = static_cast<std::size_t>(
                std::min<std::uint64_t>(buffer.size(), bytes.size() - offset));
            if (offset < bad + 512 && offset + buffer.size() > bad) {
                if (!shortReads || offset >= bad)
                    return platform::DeviceReadResult{platform::DeviceReadResult::Status::Failed, 0,
                                                      5 /* EIO */};
                readable = static_cast<std::size_t>(bad - offset);
            }
            std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), readable,
                        buffer.begin());
            return platform::DeviceReadResult{platform::DeviceReadResult::Status::Ok, readable, 0};
        },
        std::make_shared<std::atomic<int>>());
}

// Blocks in ReadAt until CancelRead.
class HangingDevice : public platform::BlockDevice {
  public:
    platform::DeviceReadResult ReadAt(std::uint64_t, std::span<std::uint8_t>) override {
        std::unique_lock lock(mutex_);
        wakeup_.wait(lock, [this] { return cancelled_; });
        return {platform::DeviceReadResult::Status::Failed, 0, EINTR};
    }
    void CancelRead() override {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        wakeup_.notify_all();
    }
    std::uint64_t SizeBytes() const override { return 1 << 20; }

  private:
    std::mutex mutex_;
    std::condition_variable wakeup_;
    bool cancelled_ = false;
};

// Hands out a device per path from factories; counts opens.
class FakeOpener : public platform::DeviceOpener {
  public:
    using Factory = std::function<std::unique_ptr<platform::BlockDevice>()>;
    void Add(const std::string& path, Factory factory) { factories_[path] = std::move(factory); }
    std::unique_ptr<platform::BlockDevice> Open(const std::string& path,
                                                std::string& error) override {
        ++opens;
        const auto it = factories_.find(path);
        if (it == factories_.end()) {
            error = "No such file or directory";
            return nullptr;
        }
        return it->second();
    }
    std::atomic<int> opens{0};

  private:
    std::map<std::string, Factory> factories_;
};

// A fake /sys, /dev and mountinfo under one folder.
class FakeSystem {
  public:
    explicit FakeSystem(const std::filesystem::path& root);
    void AddDisk(const std::string& name, std::uint64_t sectors, bool removable = false,
                 const std::string& vendor = "", const std::string& model = "");
    void AddPartition(const std::string& disk, const std::string& name, std::uint32_t number,
                      std::uint64_t start, std::uint64_t sectors);
    void AddLoop(const std::string& name, const std::string& backingFile);
    void AddMount(const std::string& device, const std::filesystem::path& mountPoint);
    std::filesystem::path sys() const { return root_ / "sys"; }
    std::filesystem::path dev() const { return root_ / "dev"; }
    std::filesystem::path mountInfo() const { return root_ / "mountinfo"; }

  private:
    std::filesystem::path root_;
    unsigned nextMinor_ = 0;
    std::map<std::string, unsigned> minors_;
};

// Makes a FAT image with mkfs.fat; false when the tool is missing.
bool MakeFatImage(const std::filesystem::path& file, unsigned kilobytes, const std::string& label);

}  // namespace duzez::test
