#pragma once

// Raw-device access without udisks2: a one-shot helper, started through pkexec, opens a
// block device read-only and hands the descriptor back over a socket pair. The window
// and the parsers of what the disk holds stay with the user; only this open runs as root.

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace duzez::platform {

// The helper's checks and open: `path` must name a block device below `root` ("/dev")
// by plain components, none of them a link, "." or "..". Opened O_RDONLY | O_CLOEXEC |
// O_NOFOLLOW only after it was seen to be a block device, and checked again with fstat
// after opening. Invalid with `error` set (why it was refused) otherwise.
UniqueFd OpenBlockDeviceForHandover(const std::string& path, std::string& error,
                                    const std::string& root = "/dev");

// Whether `fd` reads the block device `device` and cannot write: what the helper checks
// after its open, and the program checks of what the helper sent.
bool IsReadOnlyBlockDevice(int fd, dev_t device);

// One descriptor over a Unix socket (SCM_RIGHTS). Receiving takes exactly one descriptor,
// close-on-exec; anything else is refused and closed.
bool SendDescriptor(int socket, int fd);
UniqueFd ReceiveDescriptor(int socket);

}  // namespace duzez::platform
