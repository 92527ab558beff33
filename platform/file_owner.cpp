#include "platform/file_owner.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <limits>
#include <vector>

namespace duzez::platform {
namespace {

std::optional<unsigned long> PlainNumber(const std::optional<std::string>& text) {
    if (!text || text->empty() || text->size() > 10)
        return std::nullopt;
    unsigned long value = 0;
    const char* end = text->data() + text->size();
    const auto [stop, problem] = std::from_chars(text->data(), end, value);
    // A uid of -1 means "unchanged" to chown: never one to give files to.
    if (problem != std::errc() || stop != end || value >= std::numeric_limits<uid_t>::max())
        return std::nullopt;
    return value;
}

std::optional<gid_t> PrimaryGroupOf(uid_t uid) {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return std::nullopt;
    return found->pw_gid;
}

}  // namespace

std::optional<FileOwner> InvokingUserFrom(
    uid_t effectiveUid, const std::function<std::optional<std::string>(const char*)>& env) {
    if (effectiveUid != 0)
        return std::nullopt;
    for (const auto& [uidName, gidName] :
         {std::pair{"SUDO_UID", "SUDO_GID"},
          std::pair{"PKEXEC_UID", static_cast<const char*>(nullptr)}}) {
        const auto uid = PlainNumber(env(uidName));
        if (!uid || *uid == 0)
            continue;
        FileOwner owner{static_cast<uid_t>(*uid), std::nullopt};
        if (const auto gid = gidName != nullptr ? PlainNumber(env(gidName)) : std::nullopt)
            owner.gid = static_cast<gid_t>(*gid);
        else
            owner.gid = PrimaryGroupOf(owner.uid);
        return owner;
    }
    return std::nullopt;
}

std::optional<FileOwner> InvokingUser() {
    return InvokingUserFrom(::geteuid(), [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
    });
}

void GiveTo(int fd, const std::optional<FileOwner>& owner) {
    struct stat info {};
    // A name someone else took meanwhile is not this run's to give away.
    if (!owner || fd < 0 || ::fstat(fd, &info) != 0 || info.st_uid != ::geteuid())
        return;
    const gid_t group = owner->gid ? *owner->gid : static_cast<gid_t>(-1);
    // Refused on FAT, exFAT and NTFS mounts (EPERM): those have no owners to give.
    [[maybe_unused]] const int ignored = ::fchown(fd, owner->uid, group);
}

void GiveToOwnerOfFolder(int fd, int folderFd) {
    struct stat folder {};
    if (::geteuid() != 0 || ::fstat(folderFd, &folder) != 0 || folder.st_uid == 0)
        return;
    GiveTo(fd, FileOwner{folder.st_uid, folder.st_gid});
}

bool CreateFolders(const std::filesystem::path& folder) {
    std::error_code ec;
    if (folder.empty())
        return false;
    if (std::filesystem::is_directory(folder, ec))
        return true;
    if (!folder.has_filename())  // "a/b/": the same folder as "a/b"
        return CreateFolders(folder.parent_path());
    const std::filesystem::path parent =
        folder.has_parent_path() ? folder.parent_path() : std::filesystem::path(".");
    if (!CreateFolders(parent))
        return false;
    const UniqueFd above(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!above)
        return false;
    const std::string name = folder.filename().string();
    if (::mkdirat(above.get(), name.c_str(), 0777) != 0 && errno != EEXIST)
        return false;
    // The folder made, not a link someone put at its name.
    const UniqueFd made(
        ::openat(above.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!made)
        return false;
    GiveToOwnerOfFolder(made.get(), above.get());
    return true;
}

UniqueFd CreateFileFor(const std::filesystem::path& path, const std::optional<FileOwner>& owner) {
    UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                         FileMode(owner)));
    GiveTo(file.get(), owner);
    return file;
}

}  // namespace duzez::platform
