#include "platform/program_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace duzez::platform {
namespace {

// An XDG variable counts only when it holds an absolute path.
std::optional<std::filesystem::path> AbsoluteFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return std::nullopt;
    }
    return std::filesystem::path(value);
}

}  // namespace

std::filesystem::path ExecutablePath() {
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : path;
}

std::filesystem::path ExecutableFolder() {
    return ExecutablePath().parent_path();
}

std::optional<std::filesystem::path> FindProgramData(const std::filesystem::path& executableFolder,
                                                     std::string_view name) {
    const std::vector<std::filesystem::path> candidates = {
        executableFolder / name,
        executableFolder / ".." / "share" / "duzez" / name,
    };
    for (const auto& candidate : candidates) {
        std::error_code ec;
        if (std::filesystem::exists(candidate, ec)) {
            return candidate.lexically_normal();
        }
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> FindProgramData(std::string_view name) {
    return FindProgramData(ExecutableFolder(), name);
}

std::filesystem::path HomeFolder() {
    if (auto home = AbsoluteFromEnvironment("HOME")) {
        return *home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 &&
        result != nullptr && result->pw_dir != nullptr) {
        return result->pw_dir;
    }
    return "/";
}

std::filesystem::path UserConfigFolder() {
    return AbsoluteFromEnvironment("XDG_CONFIG_HOME").value_or(HomeFolder() / ".config");
}

std::filesystem::path UserStateFolder() {
    return AbsoluteFromEnvironment("XDG_STATE_HOME").value_or(HomeFolder() / ".local" / "state");
}

std::filesystem::path SystemTempFolder() {
    if (auto tmp = AbsoluteFromEnvironment("TMPDIR")) {
        std::error_code ec;
        if (std::filesystem::is_directory(*tmp, ec)) {
            return *tmp;
        }
    }
    return "/tmp";
}

}  // namespace duzez::platform
