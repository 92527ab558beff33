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

// As RunCli, with stdout alone in `out`: what a script reading the output gets.
RunResult RunCliStdout(const std::string& arguments, const std::filesystem::path& config);

// As RunCli on a terminal `columns` wide (through script(1)); line ends are "\n". Nothing,
// with exit code -1, where script(1) is missing.
RunResult RunCliOnTerminal(const std::string& arguments, const std::filesystem::path& config,
                           int columns);

// Why `json` does not follow the schema `name` kept in the repository
// (schemas/<name>.schema.json); empty when it does.
std::string SchemaProblems(const std::string& json, const std::string& name);

// Shell quoting for a path or any other argument.
std::string Quoted(const std::string& text);

}  // namespace duzez::test
