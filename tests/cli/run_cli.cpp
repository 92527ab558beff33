#include "tests/cli/run_cli.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

namespace duzez::test {

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

RunResult RunCli(const std::string& arguments, const std::filesystem::path& config) {
    const std::string command = "XDG_CONFIG_HOME=" + Quoted(config.string()) + " " +
                                Quoted(DUZEZ_CLI_PATH) + " " + arguments + " 2>&1";
    RunResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return result;
    std::array<char, 4096> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr)
        result.out += buffer.data();
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace duzez::test
