#include "platform/media_monitor.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>

#include <charconv>
#include <cstring>

namespace duzez::platform {
namespace {

struct UdevRefs {
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
    ~UdevRefs() {
        if (monitor != nullptr)
            udev_monitor_unref(monitor);
        if (context != nullptr)
            udev_unref(context);
    }
};

std::string Property(udev_device* device, const char* name) {
    const char* value = udev_device_get_property_value(device, name);
    return value != nullptr ? std::string(value) : std::string();
}

// The file-system and partition UUIDs come from libblkid, as the volumes' own do; the
// serial is left to sysfs, so that both sides read it from the same place.
DeviceIdentity IdentityOf(udev_device* device) {
    DeviceIdentity identity;
    identity.fileSystemUuid = Property(device, "ID_FS_UUID");
    identity.partitionUuid = Property(device, "ID_PART_ENTRY_UUID");
    const std::string number = Property(device, "ID_PART_ENTRY_NUMBER");
    std::from_chars(number.data(), number.data() + number.size(), identity.partitionNumber);
    return identity;
}

}  // namespace

MediaMonitor::MediaMonitor(Callback callback)
    : callback_(std::move(callback)), stopEvent_(::eventfd(0, EFD_CLOEXEC)) {
    if (!stopEvent_)
        return;
    auto refs = std::make_unique<UdevRefs>();
    refs->context = udev_new();
    if (refs->context == nullptr)
        return;
    refs->monitor = udev_monitor_new_from_netlink(refs->context, "udev");
    if (refs->monitor == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(refs->monitor, "block", nullptr) < 0 ||
        udev_monitor_enable_receiving(refs->monitor) < 0) {
        return;
    }
    thread_ = std::thread([this, owned = refs.release()] {
        const std::unique_ptr<UdevRefs> held(owned);
        Run(held->monitor);
    });
}

MediaMonitor::~MediaMonitor() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(stopEvent_.get(), &one, sizeof one);
        thread_.join();
    }
}

void MediaMonitor::Run(void* opaque) {
    auto* monitor = static_cast<udev_monitor*>(opaque);
    pollfd fds[2] = {{udev_monitor_get_fd(monitor), POLLIN, 0}, {stopEvent_.get(), POLLIN, 0}};
    while (true) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        if ((fds[0].revents & POLLIN) == 0)
            continue;
        udev_device* device = udev_monitor_receive_device(monitor);
        if (device == nullptr)
            continue;
        const char* action = udev_device_get_action(device);
        const char* name = udev_device_get_sysname(device);
        const char* mediaChange = udev_device_get_property_value(device, "DISK_MEDIA_CHANGE");
        if (action != nullptr && name != nullptr) {
            MediaEvent event{MediaEvent::Kind::Arrived, name, IdentityOf(device)};
            if (std::strcmp(action, "remove") == 0) {
                event.kind = MediaEvent::Kind::Removed;
                callback_(event);
            } else if (std::strcmp(action, "add") == 0) {
                callback_(event);
            } else if (std::strcmp(action, "change") == 0 && mediaChange != nullptr) {
                // A card reader stays; its medium came or went, which its size tells.
                const char* size = udev_device_get_sysattr_value(device, "size");
                if (size == nullptr || std::strcmp(size, "0") == 0) {
                    event.kind = MediaEvent::Kind::Removed;
                }
                callback_(event);
            }
        }
        udev_device_unref(device);
    }
}

}  // namespace duzez::platform
