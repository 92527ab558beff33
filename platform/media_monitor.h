#pragma once

// Arrival and removal of block devices (a card put in or taken out of a reader), from a
// libudev monitor on its own thread. Where udev is not running the monitor stays silent.

#include <functional>
#include <string>
#include <thread>
#include <utility>

#include "platform/device_identity.h"
#include "platform/unique_fd.h"

namespace duzez::platform {

struct MediaEvent {
    enum class Kind { Arrived, Removed };
    MediaEvent() = default;
    MediaEvent(Kind eventKind, std::string name, DeviceIdentity seen = {})
        : kind(eventKind), deviceName(std::move(name)), identity(std::move(seen)) {}
    Kind kind = Kind::Arrived;
    std::string deviceName;  // kernel name: "sdb1"
    // What udev knows of the medium; an arrival is matched to the volumes by it, since
    // a card that comes back may get another kernel name.
    DeviceIdentity identity;
};

class MediaMonitor {
  public:
    using Callback = std::function<void(const MediaEvent&)>;

    // The callback runs on the monitor's thread.
    explicit MediaMonitor(Callback callback);
    ~MediaMonitor();
    MediaMonitor(const MediaMonitor&) = delete;
    MediaMonitor& operator=(const MediaMonitor&) = delete;

    bool Listening() const { return thread_.joinable(); }

  private:
    void Run(void* monitor);

    Callback callback_;
    UniqueFd stopEvent_;
    std::thread thread_;
};

}  // namespace duzez::platform
