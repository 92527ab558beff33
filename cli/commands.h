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

// Options of every verb, filled by the parser before a body runs.
struct GlobalOptions {
    bool verbose = false;  // copy every log line to stderr
};

// The help of the options several verbs share.
inline constexpr char kTargetHelp[] =
    "'#N' from 'drives' (quoted: a shell takes # for a comment), a device or an image";
inline constexpr char kVolumeHelp[] =
    "The Nth partition of TARGET (from 1, as 'partitions' lists them)";
inline constexpr char kFoundHelp[] =
    "The Nth volume a search of every sector finds (from 1, as 'find-lost' lists them): a "
    "lost partition";

void AddSettingsCommand(CLI::App& app, CommandBody& body, const GlobalOptions& options);
void AddDriveCommands(CLI::App& app, CommandBody& body, const GlobalOptions& options);
void AddSignatureCommands(CLI::App& app, CommandBody& body, const GlobalOptions& options);
void AddListCommand(CLI::App& app, CommandBody& body, const GlobalOptions& options);
void AddRecoverCommand(CLI::App& app, CommandBody& body, const GlobalOptions& options);
void AddPartitionCommands(CLI::App& app, CommandBody& body, const GlobalOptions& options);

// The drive list as 'drives' prints it, after the help of a bare call.
void PrintDriveList(const GlobalOptions& options);

}  // namespace duzez::cli
