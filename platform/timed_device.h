#pragma once

// Reads of a block device with a wait limit. Each read runs on the device's own I/O
// thread, straight into the caller's buffer; when the limit passes the read is cancelled,
// and the call returns only once the device no longer touches the buffer.

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/block_device.h"

namespace duzez::platform {

class TimedDevice {
public:
    explicit TimedDevice(std::unique_ptr<BlockDevice> device);
    ~TimedDevice();
    TimedDevice(const TimedDevice&) = delete;
    TimedDevice& operator=(const TimedDevice&) = delete;

    // One read at a time; callers serialise.
    DeviceReadResult Read(std::uint64_t offset, std::span<std::uint8_t> buffer,
                          std::chrono::milliseconds waitLimit);
    const BlockDevice& Device() const { return *device_; }

private:
    void Run();

    std::unique_ptr<BlockDevice> device_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    bool stop_ = false;
    bool pending_ = false;
    bool finished_ = false;
    std::uint64_t offset_ = 0;
    std::span<std::uint8_t> buffer_;
    DeviceReadResult result_;
    std::thread thread_;
};

}  // namespace duzez::platform
