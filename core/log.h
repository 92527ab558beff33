#pragma once

// The program's log: every line of the run in memory, each new line posted to the log
// pane, optionally appended to a log file and copied to stderr, and exportable to a text
// file that is opened for the user. Safe to call from any thread.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/message_format.h"
#include "core/string_table.h"

namespace duzez::core {

class CApp;
class CSettings;

class CLog {
  public:
    enum Level : int { Debug = 1, Error = 2, Info = 4, Critical = 8, Exception = 10 };
    static constexpr std::string_view kExportFileName = "Recovery log file.txt";

    using Clock = std::function<std::chrono::system_clock::time_point()>;

    // Timestamps on, file mode off; problems the application met before the log existed
    // become its first lines.
    explicit CLog(CApp& app);
    ~CLog();
    CLog(const CLog&) = delete;
    CLog& operator=(const CLog&) = delete;

    int LogText(std::string_view text, int level);
    int LogInfo(std::string_view text) { return LogText(text, Info); }
    int LogException(std::string_view text) { return LogText(text, Exception); }

    // The text of `id` in the interface language, formatted with the arguments, at level 4.
    template <typename... Args>
    int LogMessage(StringId id, const Args&... args) {
        return LogMessageArgs(static_cast<std::uint32_t>(id), {FormatArg(args)...});
    }
    int LogMessageArgs(std::uint32_t id, std::initializer_list<FormatArg> args, int level = Info);

    // The same at level 2, for the messages the system logs as errors.
    template <typename... Args>
    int LogErrorMessage(StringId id, const Args&... args) {
        return LogMessageArgs(static_cast<std::uint32_t>(id), {FormatArg(args)...}, Error);
    }

    // `format` is a literal or a text loaded by identifier; logged at level 2.
    template <typename... Args>
    int LogError(std::string_view format, const Args&... args) {
        return LogErrorArgs(format, {FormatArg(args)...});
    }
    int LogErrorArgs(std::string_view format, std::initializer_list<FormatArg> args);

    // Sends the status text to the current top-level window, if there is one.
    int ShowStatus(StringId id, int pane);

    // Writes every line, oldest first, to "Recovery log file.txt" in the temporary folder
    // and opens it; 0 when the file cannot be created.
    int ExportToFile();

    // Connects the Logging settings: file mode, file name, clear on start-up, size cap,
    // and the copy to stderr.
    void ApplySettings(const CSettings& settings);

    void SetTimestamps(bool on);
    void SetDebugCopy(bool on);  // every line also to stderr
    void SetClock(Clock clock);  // for tests
    std::vector<std::string> Lines() const;
    std::chrono::system_clock::time_point LastLineTime() const;
    std::filesystem::path LogFilePath() const;
    bool FileModeOn() const;

    // Where a relative log file name is kept: ~/.local/state/Quarnel/Duzez.
    static std::filesystem::path LogFolder();
    // A line's timestamp: this machine's local time in ISO 8601, "2026-12-07T14:03:05",
    // the same whatever the locale, so that no one reads 07/12 as July.
    static std::string Timestamp(std::chrono::system_clock::time_point when);
    // The line as it is stored for `text` at `level`, with or without a timestamp.
    static std::string FormatLine(std::string_view text, int level, const std::string* timestamp);

  private:
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };

    bool OpenFileLocked();
    bool AppendToFileLocked(const std::string& line);

    CApp& app_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::unique_ptr<std::FILE, FileCloser> file_;
    bool fileMode_ = false;
    bool createNew_ = false;
    bool debugCopy_ = false;
    std::uint64_t maxFileBytes_ = 0;  // 0 = no cap
    std::uint64_t fileBytes_ = 0;
    std::filesystem::path fileName_;
    std::chrono::system_clock::time_point lastLineTime_{};
    bool timestamps_ = true;
    Clock clock_ = [] { return std::chrono::system_clock::now(); };
};

}  // namespace duzez::core
