#include "platform/device_handover.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstring>
#include <sstream>

namespace duzez::platform {
namespace {

// The components of `path` below `root`, or why there are none.
bool ComponentsBelow(const std::string& path, const std::string& root,
                     std::vector<std::string>& parts, std::string& error) {
    if (path.size() <= root.size() + 1 || path.compare(0, root.size(), root) != 0 ||
        path[root.size()] != '/') {
        error = "only a device below " + root + " can be opened";
        return false;
    }
    std::istringstream rest(path.substr(root.size() + 1));
    for (std::string part; std::getline(rest, part, '/');) {
        if (part.empty() || part == "." || part == "..") {
            error = "the path must name the device plainly, without '.', '..' or '//'";
            return false;
        }
        parts.push_back(part);
    }
    if (path.back() == '/') {
        error = "the path names a folder, not a device";
        return false;
    }
    return true;
}

}  // namespace

UniqueFd OpenBlockDeviceForHandover(const std::string& path, std::string& error,
                                    const std::string& root) {
    std::vector<std::string> parts;
    if (path.find('\0') != std::string::npos) {
        error = "the path holds a zero byte";
        return {};
    }
    if (!ComponentsBelow(path, root, parts, error))
        return {};
    UniqueFd folder(::open(root.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    for (std::size_t i = 0; folder && i + 1 < parts.size(); ++i)
        folder = UniqueFd(::openat(folder.get(), parts[i].c_str(),
                                   O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder) {
        error = errno == ELOOP || errno == ENOTDIR
                    ? "a folder on the way is a link or no folder"
                    : std::string("cannot reach the device: ") + std::strerror(errno);
        return {};
    }
    // Looked at before opening: opening a tape, a terminal or a FIFO can act on it.
    struct stat seen {};
    if (::fstatat(folder.get(), parts.back().c_str(), &seen, AT_SYMLINK_NOFOLLOW) != 0) {
        error = std::string("cannot see the device: ") + std::strerror(errno);
        return {};
    }
    if (S_ISLNK(seen.st_mode)) {
        error = "the path is a link; give the device's own name";
        return {};
    }
    if (!S_ISBLK(seen.st_mode)) {
        error = S_ISCHR(seen.st_mode) ? "a character device is no disk"
                                      : "the path names no block device";
        return {};
    }
    // The kernel's own nodes: not one made in a file system mounted below the root
    // (/dev/shm, /dev/mqueue), where others may put nodes.
    struct stat rootInfo {};
    if (::stat(root.c_str(), &rootInfo) != 0 || rootInfo.st_dev != seen.st_dev) {
        error = "the device node lies on another file system than " + root;
        return {};
    }
    // Without waiting: an optical drive's open would close its tray, a removed card's hang.
    UniqueFd device(::openat(folder.get(), parts.back().c_str(),
                             O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK));
    if (!device || ::fcntl(device.get(), F_SETFL, 0) != 0) {
        error = std::string("cannot open the device: ") + std::strerror(errno);
        return {};
    }
    // The name may have been replaced between the look and the open.
    if (!IsReadOnlyBlockDevice(device.get(), seen.st_rdev)) {
        error = "the device changed while it was being opened";
        return {};
    }
    return device;
}

bool IsReadOnlyBlockDevice(int fd, dev_t device) {
    struct stat info {};
    return (::fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDONLY && ::fstat(fd, &info) == 0 &&
           S_ISBLK(info.st_mode) && info.st_rdev == device;
}

bool SendDescriptor(int socket, int fd) {
    char byte = 'D';
    iovec data{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &fd, sizeof(int));
    ssize_t sent = 0;
    do {
        sent = ::sendmsg(socket, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == 1;
}

UniqueFd ReceiveDescriptor(int socket) {
    char byte = 0;
    iovec data{&byte, 1};
    // Room for more than one, so that extra descriptors arrive and can be closed.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 8)] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t got = 0;
    do {
        got = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    } while (got < 0 && errno == EINTR);
    std::vector<UniqueFd> received;
    for (cmsghdr* header = got > 0 ? CMSG_FIRSTHDR(&message) : nullptr; header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS ||
            header->cmsg_len < CMSG_LEN(0))
            continue;
        const std::size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof(int));
            received.emplace_back(fd);
        }
    }
    if (got != 1 || (message.msg_flags & MSG_CTRUNC) != 0 || received.size() != 1)
        return {};
    return std::move(received.front());
}

}  // namespace duzez::platform
