#pragma once

// The program's side of the raw-device helper: pkexec asks polkit, the helper opens the
// device as root and sends the descriptor back; nothing else runs as root.

#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace duzez::platform {

// Runs `command` (the helper and the device path, after pkexec in use) with a socket as
// its standard output and takes the descriptor it sends. Invalid with `error` set from
// what the helper or pkexec said otherwise.
UniqueFd RunDeviceHelper(const std::vector<std::string>& command, std::string& error);

// The installed helper: beside the executable (build tree), else ../libexec/duzez/.
// Empty when neither exists or pkexec is missing.
std::string DeviceHelperPath();
// The full command that asks polkit and runs the helper for `devicePath`.
std::vector<std::string> PkexecHelperCommand(const std::string& helper,
                                             const std::string& devicePath);

}  // namespace duzez::platform
