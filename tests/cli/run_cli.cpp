#include "tests/cli/run_cli.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <iterator>
#include <thread>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/source_dir.h"
#include "tests/support/temp_folder.h"

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

namespace {

RunResult Run(const std::string& command) {
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

std::string CliCommand(const std::string& arguments, const std::filesystem::path& config) {
    return "XDG_CONFIG_HOME=" + Quoted(config.string()) + " " + Quoted(DUZEZ_CLI_PATH) + " " +
           arguments;
}

}  // namespace

RunResult RunCli(const std::string& arguments, const std::filesystem::path& config) {
    return Run(CliCommand(arguments, config) + " 2>&1");
}

RunResult RunCliStdout(const std::string& arguments, const std::filesystem::path& config) {
    return Run(CliCommand(arguments, config) + " 2>/dev/null");
}

RunResult RunCliOnTerminal(const std::string& arguments, const std::filesystem::path& config,
                           int columns) {
    if (::system("command -v script >/dev/null 2>&1") != 0)
        return {};
    const std::string inner =
        "stty cols " + std::to_string(columns) + " rows 50; " + CliCommand(arguments, config);
    RunResult result = Run("script -qec " + Quoted(inner) + " /dev/null");
    std::string clean;
    for (char c : result.out) {
        if (c != '\r')
            clean += c;
    }
    result.out = clean;
    return result;
}

InterruptedRun RunCliInterrupted(const std::vector<std::string>& arguments,
                                 const std::filesystem::path& config,
                                 const std::filesystem::path& log, const std::string& trigger) {
    return RunCliInterrupted(arguments, config, log, [&trigger](const std::string& out) {
        return out.find(trigger) != std::string::npos;
    });
}

InterruptedRun RunCliInterrupted(const std::vector<std::string>& arguments,
                                 const std::filesystem::path& config,
                                 const std::filesystem::path& log,
                                 const std::function<bool(const std::string& out)>& ready) {
    std::vector<std::string> words = {DUZEZ_CLI_PATH};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    InterruptedRun run;
    // What an earlier run left there must not pass for this one's output.
    std::filesystem::remove(log);
    const pid_t child = ::fork();
    if (child < 0)
        return run;
    if (child == 0) {
        ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        ::execv(DUZEZ_CLI_PATH, argv.data());
        ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    int status = 0;
    bool ended = false;
    while (!ended && std::chrono::steady_clock::now() < deadline) {
        if (!run.signalled) {
            std::ifstream in(log, std::ios::binary);
            const std::string text((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
            if (ready(text)) {
                ::kill(child, SIGINT);
                run.signalled = true;
            }
        }
        ended = ::waitpid(child, &status, WNOHANG) == child;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!ended) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    std::ifstream in(log, std::ios::binary);
    run.out.assign((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    run.exitCode = ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string SchemaProblems(const std::string& json, const std::string& name) {
    const auto schema = SourceDir() / "schemas" / (name + ".schema.json");
    const auto document = std::filesystem::temp_directory_path() /
                          ("duzez-schema-" + std::to_string(::getpid()) + ".json");
    {
        std::ofstream out(document, std::ios::binary);
        out << json;
    }
    const std::string check =
        "python3 -c " +
        Quoted(
            "import json, sys, jsonschema\n"
            "schema = json.load(open(sys.argv[1]))\n"
            "jsonschema.validators.validator_for(schema).check_schema(schema)\n"
            "errors = sorted(jsonschema.validators.validator_for(schema)(schema)"
            ".iter_errors(json.load(open(sys.argv[2]))), key=str)\n"
            "for e in errors[:5]:\n"
            "    print('/'.join(map(str, e.absolute_path)) + ': ' + e.message)\n"
            "sys.exit(1 if errors else 0)") +
        " " + Quoted(schema.string()) + " " + Quoted(document.string());
    RunResult result = Run(check + " 2>&1");
    std::filesystem::remove(document);
    if (result.exitCode == 0)
        return {};
    return result.out.empty() ? "the schema check could not run" : result.out;
}

std::optional<RunResult> RunCliWithoutRights(const std::string& arguments,
                                             const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    const std::string prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    if (::geteuid() != 0 || !HaveTool("setpriv") || !RunCommand(prefix + "true"))
        return std::nullopt;
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    const fs::path config = folder / "nobody-config";
    fs::create_directories(config);
    fs::permissions(config, fs::perms::all);
    return Run(prefix + "env XDG_CONFIG_HOME=" + Quoted(config.string()) +
               " XDG_STATE_HOME=" + Quoted(config.string()) + " " + Quoted(DUZEZ_CLI_PATH) + " " +
               arguments + " 2>/dev/null");
}

nlohmann::json JsonOut(const RunResult& result) {
    nlohmann::json document = nlohmann::json::parse(result.out, nullptr, false);
    if (!document.is_discarded())
        return document;
    ADD_FAILURE() << "not JSON (exit " << result.exitCode << "):\n" << result.out;
    return nullptr;
}

nlohmann::json CheckedJson(const std::string& arguments, const std::filesystem::path& config,
                           const std::string& schema) {
    const RunResult run = RunCliStdout(arguments + " --json", config);
    EXPECT_EQ(run.exitCode, 0) << arguments << "\n" << run.out;
    EXPECT_EQ(SchemaProblems(run.out, schema), "") << arguments;
    return JsonOut(run);
}

nlohmann::json DriveEntry(const nlohmann::json& drives, const std::string& device) {
    for (const nlohmann::json& drive : drives) {
        if (drive.value("devicePath", "") == device)
            return drive;
    }
    return nullptr;
}

std::optional<std::string> Row(const std::string& out, const std::string& label) {
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(label + ":", 0) != 0)
            continue;
        const std::size_t value = line.find_first_not_of(' ', label.size() + 1);
        return value == std::string::npos ? "" : line.substr(value);
    }
    return std::nullopt;
}

std::vector<std::string> TerminalFrames(const std::string& out) {
    std::vector<std::string> frames;
    for (std::size_t at = 0; at <= out.size();) {
        std::size_t end = out.find('\n', at);
        const std::size_t erase = out.find("\033[K", at);
        const bool byErase =
            erase != std::string::npos && (end == std::string::npos || erase < end);
        end = byErase ? erase : std::min(end, out.size());
        if (end > at)
            frames.push_back(out.substr(at, end - at));
        at = end + (byErase ? 3 : 1);
    }
    return frames;
}

bool HaveFatTools() {
    return HaveTool("mkfs.fat") && HaveTool("mcopy") && HaveTool("fsck.fat");
}

bool MakeFatImage(const std::filesystem::path& image, const std::string& options, int kib,
                  const std::vector<std::string>& steps) {
    std::vector<std::string> commands = {"mkfs.fat -C " + options + " " + Quoted(image.string()) +
                                         " " + std::to_string(kib)};
    for (const std::string& step : steps) {
        const std::size_t tool = std::min(step.find(' '), step.size());
        commands.push_back("MTOOLS_SKIP_CHECK=1 " + step.substr(0, tool) + " -i " +
                           Quoted(image.string()) + step.substr(tool));
    }
    for (const std::string& command : commands) {
        if (!RunCommand(command)) {
            ADD_FAILURE() << "failed: " << command;
            return false;
        }
    }
    return true;
}

std::string Sha256Sum(const std::filesystem::path& file) {
    return CommandOutput("sha256sum " + Quoted(file.string()) + " 2>/dev/null").substr(0, 64);
}

LoopDevice::LoopDevice(const std::filesystem::path& file, const std::string& options) {
    if (file.empty() || ::geteuid() != 0 || !HaveTool("losetup"))
        return;
    device_ = CommandOutput("losetup -f --show " + options + " " + Quoted(file.string()) +
                            " 2>/dev/null");
    while (!device_.empty() && device_.back() == '\n')
        device_.pop_back();
    if (device_.rfind("/dev/loop", 0) != 0)
        device_.clear();
}

LoopDevice::~LoopDevice() {
    if (!device_.empty())
        RunCommand("losetup -d " + Quoted(device_));
}

}  // namespace duzez::test
