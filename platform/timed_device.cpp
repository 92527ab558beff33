#include "platform/timed_device.h"

#include <algorithm>

namespace duzez::platform {
namespace {

constexpr std::chrono::milliseconds kLongestLook{1000};
constexpr std::chrono::milliseconds kShortestLook{5};

}  // namespace

TimedDevice::TimedDevice(std::unique_ptr<BlockDevice> device)
    : device_(std::move(device)), watchdog_([this] { Watch(); }) {}

TimedDevice::~TimedDevice() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    stopRequested_.notify_all();
    watchdog_.join();
}

void TimedDevice::Watch() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
        const auto limit = std::chrono::milliseconds(limitMs_.load());
        const auto look =
            std::clamp<std::chrono::milliseconds>(limit / 10, kShortestLook, kLongestLook);
        stopRequested_.wait_for(lock, look, [this] { return stop_; });
        const Clock::rep deadline = deadline_.load();
        if (deadline != 0 && Clock::now().time_since_epoch().count() >= deadline) {
            // Poked again at every look until the device lets go.
            timedOut_.store(true);
            device_->CancelRead();
        }
    }
}

DeviceReadResult TimedDevice::Read(std::uint64_t offset, std::span<std::uint8_t> buffer,
                                   std::chrono::milliseconds waitLimit) {
    limitMs_.store(waitLimit.count());
    timedOut_.store(false);
    deadline_.store((Clock::now() + waitLimit).time_since_epoch().count());
    DeviceReadResult result = device_->ReadAt(offset, buffer);
    deadline_.store(0);
    if (timedOut_.load() && result.status != DeviceReadResult::Status::Ok) {
        result.status = DeviceReadResult::Status::TimedOut;
    }
    return result;
}

}  // namespace duzez::platform
