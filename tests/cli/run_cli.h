#pragma once

// Runs duzez-cli as a user would, with its own settings folder, and keeps what it printed.

#include <filesystem>
#include <string>

namespace duzez::test {

struct RunResult {
    int exitCode = -1;  // -1 when it did not exit normally
    std::string out;    // stdout and stderr together
};

// `arguments` is shell text; `config` becomes XDG_CONFIG_HOME.
RunResult RunCli(const std::string& arguments, const std::filesystem::path& config);

// Shell quoting for a path or any other argument.
std::string Quoted(const std::string& text);

}  // namespace duzez::test
