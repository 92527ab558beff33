#pragma once

// Opens drives the way a desktop program should: directly when this user may read them
// (an image file, root, the disk group), else by asking udisks2 for a read-only
// descriptor, which lets polkit ask the user once, and where udisks2 is absent through
// the pkexec helper. The window never runs as root.

#include <atomic>
#include <memory>

#include "platform/block_device.h"

namespace duzez::ui {

class UdisksDeviceOpener : public platform::DeviceOpener {
  public:
    std::unique_ptr<platform::BlockDevice> Open(const std::string& path,
                                                std::string& error) override;
    // udisks2 or pkexec is asked only once the user has asked for a drive to be read: the drive
    // list made at start must not meet the user with a password prompt.
    void AllowAsking() { askingAllowed_ = true; }

  private:
    std::atomic<bool> askingAllowed_{false};
    // What the user may open already needs no asking.
    const std::unique_ptr<platform::DeviceOpener> local_ = platform::MakeLocalDeviceOpener();
};

// The udisks2 object path of a block device ("/dev/sdb1" ->
// "/org/freedesktop/UDisks2/block_devices/sdb1"); empty for what is no /dev node.
std::string UdisksObjectPath(const std::string& devicePath);

// Whether udisks2 answers on the system bus (running or activatable).
bool UdisksAvailable();

}  // namespace duzez::ui
