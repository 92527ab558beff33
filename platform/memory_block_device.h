#pragma once

// A block device over bytes in memory, for tests and fuzzing.

#include <cstring>
#include <vector>

#include "platform/block_device.h"

namespace duzez::platform {

class MemoryBlockDevice : public BlockDevice {
  public:
    explicit MemoryBlockDevice(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

    DeviceReadResult ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
        if (offset >= bytes_.size())
            return {DeviceReadResult::Status::Ok, 0, 0};
        const std::size_t n = std::min<std::uint64_t>(buffer.size(), bytes_.size() - offset);
        std::memcpy(buffer.data(), bytes_.data() + offset, n);
        return {DeviceReadResult::Status::Ok, n, 0};
    }
    std::uint64_t SizeBytes() const override { return bytes_.size(); }

  private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace duzez::platform
