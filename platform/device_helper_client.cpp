#include "platform/device_helper_client.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

#include "platform/device_handover.h"
#include "platform/program_folders.h"

extern char** environ;

namespace duzez::platform {
namespace {

constexpr char kPkexec[] = "/usr/bin/pkexec";
constexpr char kHelperName[] = "duzez-open-device";
constexpr std::size_t kMaxMessage = 4096;

// What the helper (or pkexec) wrote to its error output, up to its end.
std::string ReadAll(int fd) {
    std::string text;
    char buffer[512];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        if (text.size() < kMaxMessage)
            text.append(buffer, static_cast<std::size_t>(got));
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// Why it failed, from the exit status and what was said.
std::string Failure(int status, const std::string& said) {
    if (WIFEXITED(status)) {
        switch (WEXITSTATUS(status)) {
            case 126:  // pkexec: the password dialog was dismissed
                return "the password prompt was dismissed";
            case 127:  // pkexec: not authorised, no agent to ask, or another error
                return said.empty() ? "administrator access was not given" : said;
        }
    }
    return said.empty() ? "the device helper failed" : said;
}

// Waits up to `patience` for `fd` to have something to read (or its end).
bool Readable(int fd, std::chrono::milliseconds patience) {
    pollfd watched{fd, POLLIN, 0};
    const auto until = std::chrono::steady_clock::now() + patience;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        const int ready =
            ::poll(&watched, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

}  // namespace

UniqueFd RunDeviceHelper(const std::vector<std::string>& command, std::string& error,
                         std::chrono::milliseconds patience) {
    if (command.empty()) {
        error = "no device helper";
        return {};
    }
    int sockets[2];
    int errors[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) {
        error = std::string("cannot make a socket pair: ") + std::strerror(errno);
        return {};
    }
    UniqueFd ours(sockets[0]);
    UniqueFd theirs(sockets[1]);
    if (::pipe2(errors, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return {};
    }
    UniqueFd errorsRead(errors[0]);
    UniqueFd errorsWrite(errors[1]);

    // posix_spawn, not fork: the desktop program has threads. dup2 clears close-on-exec
    // on the copies only; every other descriptor of ours stays behind.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    std::vector<char*> argv;
    for (const std::string& word : command)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    // Descriptors another thread opened without close-on-exec stay behind as well.
    int spawned = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (spawned == 0)
        spawned = posix_spawn_file_actions_adddup2(&actions, theirs.get(), 1);
    if (spawned == 0)
        spawned = posix_spawn_file_actions_adddup2(&actions, errorsWrite.get(), 2);
    if (spawned == 0)
        spawned = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (spawned == 0)
        spawned = ::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    theirs.reset();
    errorsWrite.reset();
    if (spawned != 0) {
        error = "cannot start " + command.front() + ": " + std::strerror(spawned);
        return {};
    }
    const bool answered = Readable(ours.get(), patience);
    // pkexec still runs with this user's real uid while it asks, so it may be stopped;
    // a helper already running as root ends by itself once its open returns.
    if (!answered)
        ::kill(child, SIGTERM);
    UniqueFd device = answered ? ReceiveDescriptor(ours.get()) : UniqueFd();
    const std::string said = answered ? ReadAll(errorsRead.get()) : std::string();
    int status = 0;
    if (answered) {
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    } else {
        // A helper stuck in the kernel cannot be waited for: it is left to end alone.
        for (int tries = 0; tries < 20 && ::waitpid(child, &status, WNOHANG) == 0; ++tries)
            ::usleep(50000);
    }
    if (device && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return device;
    error = answered ? Failure(status, said) : "no answer in time from " + command.front();
    return {};
}

std::unique_ptr<BlockDevice> OpenThroughPkexecHelper(const std::string& path, std::string& error) {
    const std::string helper = DeviceHelperPath();
    if (helper.empty()) {
        error = "permission denied; neither udisks2 nor pkexec can give access";
        return nullptr;
    }
    std::error_code ec;
    const std::filesystem::path device = std::filesystem::canonical(path, ec);
    struct stat wanted {};
    if (ec || ::stat(device.c_str(), &wanted) != 0) {
        error = ec ? ec.message() : std::strerror(errno);
        return nullptr;
    }
    UniqueFd fd = RunDeviceHelper(PkexecHelperCommand(helper, device.string()), error);
    if (!fd)
        return nullptr;
    if (!IsReadOnlyBlockDevice(fd.get(), wanted.st_rdev)) {
        error = "the device helper handed over something else than " + path + " to read";
        return nullptr;
    }
    return DeviceFromDescriptor(std::move(fd), error);
}

std::string DeviceHelperPath() {
    std::error_code ec;
    if (!std::filesystem::exists(kPkexec, ec))
        return {};
    const std::filesystem::path folder = ExecutableFolder();
    for (const std::filesystem::path& helper :
         {folder / kHelperName, folder / ".." / DUZEZ_LIBEXEC_DIR / "duzez" / kHelperName}) {
        if (::access(helper.c_str(), X_OK) == 0)
            return std::filesystem::weakly_canonical(helper, ec).string();
    }
    return {};
}

std::vector<std::string> PkexecHelperCommand(const std::string& helper,
                                             const std::string& devicePath) {
    // The window is the only place a user looks: a password is asked by the desktop's
    // polkit agent, never on a terminal behind it.
    return {kPkexec, "--disable-internal-agent", helper, devicePath};
}

}  // namespace duzez::platform
