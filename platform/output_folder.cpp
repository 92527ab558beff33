#include "platform/output_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/file_io.h"
#include "platform/file_times.h"
#include "platform/folder_fd.h"

namespace duzez::platform {
namespace {

constexpr std::size_t kCompareBlock = 256 * 1024;

// Reads exactly buffer.size() bytes at `offset`; false on an error or an early end.
bool ReadFully(int fd, std::span<std::uint8_t> buffer, off_t offset) {
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t n = ::pread(fd, buffer.data() + done, buffer.size() - done,
                                  offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// One plain component: never empty, ".", ".." or holding a separator.
bool IsComponent(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

// The folder `name` in `parent`, made when missing and then given to `owner`. One made
// here is opened without following a link; one that was there keeps its owner and is
// followed only when `followExisting`. Invalid with errno set otherwise.
UniqueFd MakeSubfolder(int parent, const std::string& name, const std::optional<FileOwner>& owner,
                       bool followExisting) {
    const bool made = ::mkdirat(parent, name.c_str(), FolderMode(owner)) == 0;
    if (!made && errno != EEXIST)
        return {};
    UniqueFd folder = OpenSubfolder(parent, name.c_str(), followExisting && !made);
    if (made)
        GiveTo(folder.get(), owner);
    return folder;
}

// Opens `path`, creating what is missing of it, one component at a time from the
// descriptor of the one before: a folder made here is opened without following a link,
// so nothing can swap it for one between its making and its use, and it is given to
// `owner`. Folders that were there are taken as they are (the user may reach the chosen
// folder through links). Invalid with errno set when a component cannot be made or opened.
UniqueFd OpenCreatingFolders(const std::filesystem::path& path,
                             const std::optional<FileOwner>& owner) {
    UniqueFd at(::open(path.is_absolute() ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const std::filesystem::path& part : path.relative_path()) {
        const std::string name = part.string();
        if (!at || name.empty() || name == ".")
            continue;
        at = name == ".." ? OpenSubfolder(at.get(), "..", true)
                          : MakeSubfolder(at.get(), name, owner, true);
    }
    return at;
}

std::string PartName() {
    static std::atomic<unsigned> counter{0};
    return ".duzez-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + ".part";
}

}  // namespace

std::unique_ptr<OutputFolder> OutputFolder::Open(const std::filesystem::path& path,
                                                 std::string& error,
                                                 const std::optional<FileOwner>& owner) {
    // The folder the user chose may itself be reached through a link; below it, nothing is.
    UniqueFd fd = OpenCreatingFolders(path, owner);
    if (!fd) {
        const int code = errno;
        error = "cannot create the folder " + path.string() + ": " + std::strerror(code);
        return nullptr;
    }
    std::unique_ptr<OutputFolder> folder(new OutputFolder(std::move(fd), path, owner));
    // Permissions, a read-only mount or a pseudo file system only show when a file is made.
    if (PartFile::Create(*folder) == nullptr) {
        error = "cannot write into " + path.string() + ": " + std::strerror(errno);
        return nullptr;
    }
    return folder;
}

std::unique_ptr<OutputFolder> OutputFolder::Child(const std::string& name) const {
    if (!IsComponent(name)) {
        errno = EINVAL;
        return nullptr;
    }
    UniqueFd fd = MakeSubfolder(fd_.get(), name, owner_, false);
    if (!fd) {
        if (errno == ELOOP)
            errno = ENOTDIR;
        return nullptr;
    }
    return std::unique_ptr<OutputFolder>(new OutputFolder(std::move(fd), path_ / name, owner_));
}

std::unique_ptr<PartFile> PartFile::Create(const OutputFolder& folder) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = PartName();
        UniqueFd fd(::openat(folder.Descriptor(), name.c_str(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                             FileMode(folder.Owner())));
        if (fd) {
            GiveTo(fd.get(), folder.Owner());
            return std::unique_ptr<PartFile>(new PartFile(folder, std::move(fd), std::move(name)));
        }
        if (errno != EEXIST)
            return nullptr;
    }
    return nullptr;
}

PartFile::~PartFile() {
    Discard();
}

void PartFile::Discard() {
    if (!gone_.exchange(true))
        ::unlinkat(folder_.Descriptor(), name_.c_str(), 0);
}

int PartFile::Write(std::span<const std::uint8_t> bytes, std::size_t& written) {
    return WriteAll(fd_.get(), bytes, written);
}

bool PartFile::SetTimes(std::uint64_t accessed, std::uint64_t modified) {
    return SetFileTimes(fd_.get(), accessed, modified);
}

int PartFile::Close() {
    if (!fd_)
        return 0;
    const int result = ::close(fd_.get());
    const int error = errno;
    fd_.release();
    // The descriptor is gone either way; EINTR does not mean the data failed.
    return result == 0 || error == EINTR ? 0 : error;
}

bool PartFile::SameContentAs(const std::string& name) const {
    const int dir = folder_.Descriptor();
    struct stat existing {};
    struct stat mine {};
    // Only a plain file is opened: a device node or a pipe in the folder is never touched.
    if (::fstatat(dir, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(existing.st_mode) ||
        ::fstatat(dir, name_.c_str(), &mine, AT_SYMLINK_NOFOLLOW) != 0 ||
        existing.st_size != mine.st_size) {
        return false;
    }
    UniqueFd other(::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    UniqueFd self(::openat(dir, name_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!other || !self)
        return false;
    std::vector<std::uint8_t> a(kCompareBlock);
    std::vector<std::uint8_t> b(kCompareBlock);
    for (off_t at = 0; at < mine.st_size; at += static_cast<off_t>(kCompareBlock)) {
        const auto take = static_cast<std::size_t>(
            std::min<off_t>(mine.st_size - at, static_cast<off_t>(kCompareBlock)));
        if (!ReadFully(self.get(), std::span(a).first(take), at) ||
            !ReadFully(other.get(), std::span(b).first(take), at) ||
            std::memcmp(a.data(), b.data(), take) != 0) {
            return false;
        }
    }
    return true;
}

PartFile::Placed PartFile::Place(const std::string& name) {
    const int dir = folder_.Descriptor();
    if (gone_) {
        errno = ENOENT;
        return Placed::Failed;
    }
    if (!IsComponent(name)) {
        errno = EINVAL;
        return Placed::Failed;
    }
    const auto taken = [&]() {
        if (!SameContentAs(name))
            return Placed::NameTaken;
        Discard();
        return Placed::SameFileExists;
    };
    if (::renameat2(dir, name_.c_str(), dir, name.c_str(), RENAME_NOREPLACE) == 0) {
        gone_ = true;
        return Placed::Done;
    }
    if (errno == EEXIST)
        return taken();
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return Placed::Failed;
    // A file system without an exclusive rename: a hard link cannot replace either.
    if (::linkat(dir, name_.c_str(), dir, name.c_str(), 0) == 0) {
        Discard();
        return Placed::Done;
    }
    if (errno == EEXIST)
        return taken();
    // No hard links either (FAT, exFAT): look, then rename.
    struct stat existing {};
    if (::fstatat(dir, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0)
        return taken();
    if (::renameat(dir, name_.c_str(), dir, name.c_str()) != 0)
        return Placed::Failed;
    gone_ = true;
    return Placed::Done;
}

}  // namespace duzez::platform
