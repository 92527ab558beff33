#pragma once

// Runs duzez-cli as a user would, with its own settings folder, and keeps what it printed;
// and the fixtures and readings of its output the command-line tests share.

#include <nlohmann/json_fwd.hpp>

#include <filesystem>
#include <functional>
#include <optional>
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
// The same, stopped once `ready` (asked every few milliseconds with the output so far) holds.
InterruptedRun RunCliInterrupted(const std::vector<std::string>& arguments,
                                 const std::filesystem::path& config,
                                 const std::filesystem::path& log,
                                 const std::function<bool(const std::string& out)>& ready);

// Why `json` does not follow the schema `name` kept in the repository
// (schemas/<name>.schema.json); empty when it does.
std::string SchemaProblems(const std::string& json, const std::string& name);

// Shell quoting for a path or any other argument.
std::string Quoted(const std::string& text);

// As RunCliStdout, as a user without rights to any disk (nobody, no groups), with settings
// below `folder`, which that user is let into; nothing where root cannot become that user.
std::optional<RunResult> RunCliWithoutRights(const std::string& arguments,
                                             const std::filesystem::path& folder);

// The JSON a run printed (stdout alone, as RunCliStdout keeps it); null, with a test
// failure, when it printed something else.
nlohmann::json JsonOut(const RunResult& result);

// What `arguments` --json print on stdout, checked: the run exits with 0 and the document
// follows the schema `schema`. Null, with a test failure, when it is no JSON.
nlohmann::json CheckedJson(const std::string& arguments, const std::filesystem::path& config,
                           const std::string& schema);

// The entry of a drive list (drives --json) for `device`; null when it is not listed.
nlohmann::json DriveEntry(const nlohmann::json& drives, const std::string& device);

// The value of the row "Label:   value" of a command's text; nothing without that row.
std::optional<std::string> Row(const std::string& out, const std::string& label);

// What a terminal showed (RunCliOnTerminal's out): each state of a line redrawn after
// "\033[K" and each plain line, in order, without the empty ones.
std::vector<std::string> TerminalFrames(const std::string& out);

// Whether dosfstools and mtools are here to make and check FAT images.
bool HaveFatTools();

// A new FAT image of `kib` KiB made by mkfs.fat -C with `options`, then changed by the
// mtools `steps`, each a tool and what follows its "-i image": "mmd ::/DCIM",
// "mcopy 'A.JPG' ::/". False, with a test failure naming the command, when one failed.
bool MakeFatImage(const std::filesystem::path& image, const std::string& options, int kib,
                  const std::vector<std::string>& steps = {});

// The SHA-256 sha256sum gives for `file`, in hex.
std::string Sha256Sum(const std::filesystem::path& file);

// The loop device `file` is attached to (losetup with `options`) while this lives; empty
// where none can be attached (not root, no losetup, no free device).
class LoopDevice {
  public:
    explicit LoopDevice(const std::filesystem::path& file, const std::string& options = "");
    ~LoopDevice();
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    const std::string& Device() const { return device_; }

  private:
    std::string device_;
};

}  // namespace duzez::test
