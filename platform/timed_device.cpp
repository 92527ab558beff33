#include "platform/timed_device.h"

namespace duzez::platform {
namespace {

// How often a cancelled read is poked again until the device lets go of the buffer.
constexpr auto kCancelRepeat = std::chrono::milliseconds(100);

}  // namespace

TimedDevice::TimedDevice(std::unique_ptr<BlockDevice> device)
    : device_(std::move(device)), thread_([this] { Run(); }) {}

TimedDevice::~TimedDevice() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void TimedDevice::Run() {
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stop_ || pending_; });
        if (stop_) return;
        pending_ = false;
        const std::uint64_t offset = offset_;
        const std::span<std::uint8_t> buffer = buffer_;
        lock.unlock();
        const DeviceReadResult result = device_->ReadAt(offset, buffer);
        lock.lock();
        result_ = result;
        finished_ = true;
        done_.notify_all();
    }
}

DeviceReadResult TimedDevice::Read(std::uint64_t offset, std::span<std::uint8_t> buffer,
                                   std::chrono::milliseconds waitLimit) {
    std::unique_lock lock(mutex_);
    offset_ = offset;
    buffer_ = buffer;
    finished_ = false;
    pending_ = true;
    wake_.notify_all();
    if (done_.wait_for(lock, waitLimit, [this] { return finished_; })) {
        return result_;
    }
    // The buffer belongs to the caller: wait until the device has really let go of it.
    while (!finished_) {
        lock.unlock();
        device_->CancelRead();
        lock.lock();
        done_.wait_for(lock, kCancelRepeat, [this] { return finished_; });
    }
    if (result_.status != DeviceReadResult::Status::Ok) {
        result_.status = DeviceReadResult::Status::TimedOut;
    }
    return result_;
}

}  // namespace duzez::platform
