#include "platform/device_helper_client.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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
            case 126:  // pkexec: not authorised, or the dialog was dismissed
                return "administrator access was not given";
            case 127:  // pkexec: no agent to ask, or the helper is not allowed
                return said.empty() ? "pkexec could not ask for a password" : said;
        }
    }
    return said.empty() ? "the device helper failed" : said;
}

}  // namespace

UniqueFd RunDeviceHelper(const std::vector<std::string>& command, std::string& error) {
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
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, theirs.get(), 1);
    posix_spawn_file_actions_adddup2(&actions, errorsWrite.get(), 2);
    std::vector<char*> argv;
    for (const std::string& word : command)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned = ::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    theirs.reset();
    errorsWrite.reset();
    if (spawned != 0) {
        error = "cannot start " + command.front() + ": " + std::strerror(spawned);
        return {};
    }
    UniqueFd device = ReceiveDescriptor(ours.get());
    const std::string said = ReadAll(errorsRead.get());
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (device && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return device;
    error = Failure(status, said);
    return {};
}

std::string DeviceHelperPath() {
    std::error_code ec;
    if (!std::filesystem::exists(kPkexec, ec))
        return {};
    const std::filesystem::path folder = ExecutableFolder();
    for (const std::filesystem::path& helper :
         {folder / kHelperName, folder / ".." / "libexec" / "duzez" / kHelperName}) {
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
