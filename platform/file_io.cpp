#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/file_owner.h"
#include "platform/unique_fd.h"

namespace duzez::platform {
namespace {

void SetError(FileError* error, const std::string& what, const std::filesystem::path& path,
              int code) {
    if (error != nullptr) {
        error->message = what + " '" + path.string() + "': " + std::strerror(code);
    }
}

}  // namespace

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::filesystem::path& path,
                                                       std::uintmax_t maxBytes, FileError* error) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        SetError(error, "cannot open", path, errno);
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        SetError(error, "cannot examine", path, errno);
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        SetError(error, "not a regular file", path, EINVAL);
        return std::nullopt;
    }
    if (static_cast<std::uintmax_t>(info.st_size) > maxBytes) {
        SetError(error, "file too large", path, EFBIG);
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            SetError(error, "cannot read", path, errno);
            return std::nullopt;
        }
        if (got == 0) {
            bytes.resize(done);  // the file shrank while being read
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return bytes;
}

bool WriteFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                         FileError* error) {
    const auto folder =
        path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path();
    CreateFolders(folder);

    std::string name = ".";
    name += path.filename().string();
    name += ".XXXXXX";
    std::string temp = (folder / name).string();
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd) {
        SetError(error, "cannot create temporary file for", path, errno);
        return false;
    }
    ::fchmod(fd.get(), 0600);
    if (const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dir)
        GiveToOwnerOfFolder(fd.get(), dir.get());
    std::size_t written = 0;
    int code = WriteAll(fd.get(), bytes, written);
    if (code == 0 && ::fsync(fd.get()) != 0)
        code = errno;
    if (code != 0) {
        fd.reset();
        ::unlink(temp.c_str());
        SetError(error, "cannot write", path, code);
        return false;
    }
    fd.reset();
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        code = errno;
        ::unlink(temp.c_str());
        SetError(error, "cannot replace", path, code);
        return false;
    }
    // Make the rename itself durable.
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) {
        ::fsync(dir.get());
    }
    return true;
}

int WriteAll(int fd, std::span<const std::uint8_t> bytes, std::size_t& written) {
    written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO;  // no progress and no reason: never loop on it
        written += static_cast<std::size_t>(n);
    }
    return 0;
}

std::FILE* OpenOwnFileForAppending(const std::filesystem::path& path, bool clear) {
    const int fd =
        ::open(path.c_str(),
               O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (clear ? O_TRUNC : O_APPEND), 0644);
    if (fd < 0)
        return nullptr;
    const auto folder =
        path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path();
    if (const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dir)
        GiveToOwnerOfFolder(fd, dir.get());
    std::FILE* file = ::fdopen(fd, "ab");
    if (file == nullptr)
        ::close(fd);
    return file;
}

}  // namespace duzez::platform
