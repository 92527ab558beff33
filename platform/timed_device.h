#pragma once

// Reads of a block device with a wait limit. The read runs on the caller's thread,
// straight into the caller's buffer; a watchdog thread that looks in a few times per limit
// cancels a read that has run too long, and the call returns once the device has let go
// of the buffer. Nothing is signalled per read, so reads cost what the device costs.

#include <atomic>
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

    // One read at a time; callers serialise. The limit is cut to within a tenth of itself
    // (at most a second) after it passes.
    DeviceReadResult Read(std::uint64_t offset, std::span<std::uint8_t> buffer,
                          std::chrono::milliseconds waitLimit);
    const BlockDevice& Device() const { return *device_; }

  private:
    using Clock = std::chrono::steady_clock;
    void Watch();

    std::unique_ptr<BlockDevice> device_;
    std::atomic<Clock::rep> deadline_{0};  // of the running read; 0 when none runs
    std::atomic<std::int64_t> limitMs_{0};
    std::atomic<bool> timedOut_{false};
    std::mutex mutex_;
    std::condition_variable stopRequested_;
    bool stop_ = false;
    std::thread watchdog_;
};

}  // namespace duzez::platform
