#include "tests/cli/run_cli.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <iterator>
#include <thread>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>

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

std::filesystem::path SourceDir() {
    const char* dir = std::getenv("DUZEZ_SOURCE_DIR");
    return dir != nullptr ? dir : DUZEZ_SOURCE_DIR_DEFAULT;
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
    std::vector<std::string> words = {DUZEZ_CLI_PATH};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    InterruptedRun run;
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
            if (text.find(trigger) != std::string::npos) {
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

}  // namespace duzez::test
