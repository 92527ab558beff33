#pragma once

// Who should own what a run creates. Started through sudo or pkexec, the command line
// runs as root for a user: recovered files, images and reports are that user's, not
// root's, or the user could not even delete them.

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/unique_fd.h"

namespace duzez::platform {

struct FileOwner {
    uid_t uid = 0;
    std::optional<gid_t> gid;  // unset: the group is left as created
};

// The invoking user from SUDO_UID/SUDO_GID or PKEXEC_UID when running as root; unset
// otherwise, and for a value that is not a plain number or names root.
std::optional<FileOwner> InvokingUser();
// The same from the given effective uid and environment, for tests.
std::optional<FileOwner> InvokingUserFrom(
    uid_t effectiveUid, const std::function<std::optional<std::string>(const char*)>& env);

// Gives what `fd` refers to (a file or folder this run has just created) to `owner`;
// never what belongs to anyone but this process's user. Best effort: FAT, exFAT and NTFS
// mounts refuse owners, and the file is whole anyway.
void GiveTo(int fd, const std::optional<FileOwner>& owner);

// A new file at `path` (never one that exists, never through a link) with the mode for
// `owner`, given to it. Invalid with errno set when it cannot be created.
UniqueFd CreateFileFor(const std::filesystem::path& path, const std::optional<FileOwner>& owner);

// Run as root in a folder that belongs to someone else (the user's home, kept through
// `sudo -E`), what is made there is given to the folder's owner: the program's own settings
// and log would otherwise be root's, and the user's next run could not write them. Nothing
// is given away when not root, or when the folder is root's.
void GiveToOwnerOfFolder(int fd, int folderFd);
// std::filesystem::create_directories, with each folder it makes given as above. Whether
// `folder` is a folder now.
bool CreateFolders(const std::filesystem::path& folder);

// Modes of what a run creates. Root read the drive for the user: what came from it is
// that user's alone, as the drive was.
constexpr mode_t FileMode(const std::optional<FileOwner>& owner) {
    return owner ? 0600 : 0644;
}
constexpr mode_t FolderMode(const std::optional<FileOwner>& owner) {
    return owner ? 0700 : 0755;
}

}  // namespace duzez::platform
