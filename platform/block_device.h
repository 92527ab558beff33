#pragma once

// A read-only source of bytes: a disk, a partition, an image file, or memory in tests.
// Every analysed device is reached through this interface; nothing here can write.

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/unique_fd.h"

namespace duzez::platform {

struct DeviceReadResult {
    enum class Status { Ok, Failed, TimedOut };
    Status status = Status::Failed;
    std::size_t bytes = 0;  // with Ok: how many bytes were read (fewer at the end, or short)
    int error = 0;          // errno of a failure
};

class BlockDevice {
  public:
    virtual ~BlockDevice() = default;
    // One positioned read of buffer.size() bytes at `offset`, never split; blocks until
    // the device answers or CancelRead is called.
    virtual DeviceReadResult ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) = 0;
    // Called from another thread: makes a blocked ReadAt return as soon as it can.
    virtual void CancelRead() {}
    virtual std::uint64_t SizeBytes() const = 0;
    virtual std::uint32_t LogicalSectorSize() const { return 512; }
};

class DeviceOpener {
  public:
    virtual ~DeviceOpener() = default;
    // Opens `path` read-only; on failure returns null and sets `error` to the system's text.
    virtual std::unique_ptr<BlockDevice> Open(const std::string& path, std::string& error) = 0;
};

// A device read through a descriptor opened elsewhere (read-only, by a service that may
// open what this user may not); null with `error` set when it is no disk, partition or
// image file.
std::unique_ptr<BlockDevice> DeviceFromDescriptor(UniqueFd fd, std::string& error);

// Opens files and block devices of this machine with O_RDONLY | O_CLOEXEC. When the open
// itself fails, errno is left as it said (EACCES for a disk this user may not read).
std::unique_ptr<DeviceOpener> MakeLocalDeviceOpener();

}  // namespace duzez::platform
