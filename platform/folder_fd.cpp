#include "platform/folder_fd.h"

#include <dirent.h>
#include <fcntl.h>

#include <memory>
#include <string_view>

namespace duzez::platform {

UniqueFd OpenFolder(const std::filesystem::path& path) {
    return UniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

UniqueFd OpenSubfolder(int dir, const char* name, bool followLink) {
    return UniqueFd(
        ::openat(dir, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW)));
}

UniqueFd OpenFileIn(int dir, const char* name) {
    return UniqueFd(::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
}

UniqueFd CreateFileIn(int dir, const char* name, mode_t mode) {
    return UniqueFd(
        ::openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
}

UniqueFd Duplicate(int fd) {
    return UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
}

std::vector<std::string> FolderNames(int fd) {
    std::vector<std::string> names;
    // The listing takes a descriptor of its own: closedir closes it.
    UniqueFd copy = Duplicate(fd);
    if (!copy)
        return names;
    struct Closer {
        void operator()(DIR* dir) const { ::closedir(dir); }
    };
    std::unique_ptr<DIR, Closer> dir(::fdopendir(copy.get()));
    if (!dir)
        return names;
    copy.release();
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    return names;
}

}  // namespace duzez::platform
