#pragma once

// The program's side of the raw-device helper: pkexec asks polkit, the helper opens the
// device as root and sends the descriptor back; nothing else runs as root.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/block_device.h"
#include "platform/unique_fd.h"

namespace duzez::platform {

// Runs `command` (the helper and the device path, after pkexec in use) with a socket as
// its standard output and none of this process's other descriptors, and takes the
// descriptor it sends. Invalid with `error` set from what the helper or pkexec said
// otherwise, or when nothing came within `patience` (the user may take a while to type
// a password; a dying drive may never answer).
UniqueFd RunDeviceHelper(const std::vector<std::string>& command, std::string& error,
                         std::chrono::milliseconds patience = std::chrono::minutes(2));

// Opens the block device `path` (a link to one is resolved here: the helper follows none)
// through pkexec and the installed helper; what comes back must be that device and
// read-only, whoever sent it. Null with `error` set otherwise.
std::unique_ptr<BlockDevice> OpenThroughPkexecHelper(const std::string& path, std::string& error);

// The installed helper: beside the executable (build tree), else in libexec/duzez/ of
// the installation.
// Empty when neither exists or pkexec is missing.
std::string DeviceHelperPath();
// The full command that asks polkit and runs the helper for `devicePath`.
std::vector<std::string> PkexecHelperCommand(const std::string& helper,
                                             const std::string& devicePath);

}  // namespace duzez::platform
