#include "platform/shell.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

extern char** environ;

namespace duzez::platform {
namespace {

constexpr auto kLauncherWait = std::chrono::seconds(3);
// xdg-open: 3 = "a required tool could not be found", i.e. no handler for the type.
constexpr int kXdgNoTool = 3;

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string_view rest = path != nullptr ? path : "/usr/bin:/bin";
    while (true) {
        const std::size_t colon = rest.find(':');
        const std::filesystem::path candidate =
            std::filesystem::path(rest.substr(0, colon)) / program;
        std::error_code ec;
        if (std::filesystem::is_regular_file(candidate, ec))
            return true;
        if (colon == std::string_view::npos)
            return false;
        rest.remove_prefix(colon + 1);
    }
}

ShellOpenResult FromExitStatus(int status) {
    if (!WIFEXITED(status))
        return {ShellOpenStatus::Failed, status};
    const int code = WEXITSTATUS(status);
    if (code == 0)
        return {ShellOpenStatus::Opened, 0};
    if (code == kXdgNoTool)
        return {ShellOpenStatus::NoAssociatedApplication, code};
    return {ShellOpenStatus::Failed, code};
}

}  // namespace

ShellOpenResult XdgOpener::Open(const std::filesystem::path& file) {
    if (!OnPath("xdg-open")) {
        return {ShellOpenStatus::NoAssociatedApplication, ENOENT};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string program = "xdg-open";
    std::string argument = file.string();
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "xdg-open", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return {ShellOpenStatus::Failed, spawned};
    }
    const auto deadline = std::chrono::steady_clock::now() + kLauncherWait;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return FromExitStatus(status);
        if (done < 0)
            return {ShellOpenStatus::Failed, errno};
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::thread([pid] {
        int status = 0;
        ::waitpid(pid, &status, 0);
    }).detach();
    return {ShellOpenStatus::Opened, 0};
}

}  // namespace duzez::platform
