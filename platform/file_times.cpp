#include "platform/file_times.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace duzez::platform {
namespace {

constexpr std::uint64_t kUnixEpochInFileTime = 116444736000000000ull;

timespec ToTimespec(std::uint64_t fileTime) {
    timespec t{};
    if (fileTime == 0 || fileTime < kUnixEpochInFileTime) {
        t.tv_nsec = fileTime == 0 ? UTIME_OMIT : 0;
        return t;
    }
    const std::uint64_t since = fileTime - kUnixEpochInFileTime;
    t.tv_sec = static_cast<time_t>(since / 10000000ull);
    t.tv_nsec = static_cast<long>((since % 10000000ull) * 100);
    return t;
}

}  // namespace

bool SetFileTimes(const std::filesystem::path& file, std::uint64_t accessed,
                  std::uint64_t modified) {
    const timespec times[2] = {ToTimespec(accessed), ToTimespec(modified)};
    return ::utimensat(AT_FDCWD, file.c_str(), times, 0) == 0;
}

bool SetFileTimes(int fd, std::uint64_t accessed, std::uint64_t modified) {
    const timespec times[2] = {ToTimespec(accessed), ToTimespec(modified)};
    return ::futimens(fd, times) == 0;
}

}  // namespace duzez::platform
