#pragma once

// Runs duzez-cli as a user would, with its own settings folder, and keeps what it printed.

#include <filesystem>
#include <string>
#include <vector>

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

// A run stopped with Ctrl-C once its output (stdout and stderr, kept in `log`) holds
// `trigger`. `signalled` tells whether the trigger came; `exitCode` is -1 when the run did
// not end normally (or within five minutes, when it is killed).
struct InterruptedRun {
    bool signalled = false;
    int exitCode = -1;
    std::string out;
};
// `arguments` are passed as they are, without a shell.
InterruptedRun RunCliInterrupted(const std::vector<std::string>& arguments,
                                 const std::filesystem::path& config,
                                 const std::filesystem::path& log, const std::string& trigger);

// Why `json` does not follow the schema `name` kept in the repository
// (schemas/<name>.schema.json); empty when it does.
std::string SchemaProblems(const std::string& json, const std::string& name);

// Shell quoting for a path or any other argument.
std::string Quoted(const std::string& text);

}  // namespace duzez::test
