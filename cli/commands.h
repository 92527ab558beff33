#pragma once

// The verbs of duzez-cli. Each registers itself on the CLI11 application and runs over
// the same engine objects as the desktop interface.

#include <CLI/CLI.hpp>

#include <functional>

namespace duzez::cli {

// Exit status: 0 done, 1 done with failures, 2 bad arguments or unreadable target.
enum ExitCode : int { kDone = 0, kDoneWithFailures = 1, kBadInput = 2 };

// The verb that was chosen sets this to its body; main runs it after parsing.
using CommandBody = std::function<int()>;

void AddSettingsCommand(CLI::App& app, CommandBody& body);
void AddDriveCommands(CLI::App& app, CommandBody& body);
void AddSignatureCommands(CLI::App& app, CommandBody& body);

// The drive list as 'drives' prints it, after the help of a bare call.
void PrintDriveList();

}  // namespace duzez::cli
