#include "core/log.h"

#include <ctime>
#include <fstream>

#include "core/app.h"
#include "core/window_messages.h"
#include "platform/file_io.h"
#include "platform/file_owner.h"
#include "platform/program_folders.h"

namespace duzez::core {

CLog::CLog(CApp& app) : app_(app) {
    for (const std::string& problem : app_.StartupProblems()) {
        LogText(problem, Error);
    }
}

CLog::~CLog() = default;

std::string CLog::Timestamp(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm fields{};
    ::localtime_r(&seconds, &fields);
    char text[32];
    if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &fields) == 0)
        return {};
    return text;
}

std::string CLog::FormatLine(std::string_view text, int level, const std::string* timestamp) {
    std::string line;
    if (timestamp != nullptr) {
        line = *timestamp + " - ";
    }
    switch (level) {
        case Debug:
            line += "DBG: ";
            break;
        case Error:
            line += "ERR: ";
            break;
        case Critical:
            line += "CRITICALERR: ";
            break;
        default:
            break;
    }
    line += text;
    return line;
}

int CLog::LogText(std::string_view text, int level) {
    std::lock_guard lock(mutex_);
    const auto now = clock_();
    std::string line;
    if (timestamps_) {
        const std::string stamp = Timestamp(now);
        line = FormatLine(text, level, &stamp);
    } else {
        line = FormatLine(text, level, nullptr);
    }
    lastLineTime_ = now;
    lines_.push_back(line);
    if (fileMode_) {
        AppendToFileLocked(line);
    }
    if (debugCopy_) {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    // Posted under the lock so that the pane receives lines in the order they were logged.
    if (auto pane = app_.LogPane()) {
        return pane->Post({WM_LOG_LINE, 0, 0, std::move(line)}) ? 1 : 0;
    }
    return 1;
}

int CLog::LogMessageArgs(std::uint32_t id, std::initializer_list<FormatArg> args, int level) {
    LogText(app_.Languages().Format(id, std::span(args.begin(), args.size())), level);
    return 1;
}

int CLog::LogErrorArgs(std::string_view format, std::initializer_list<FormatArg> args) {
    const auto text = FormatChecked(format, std::span(args.begin(), args.size()));
    return LogText(text ? *text : format, Error);
}

int CLog::ShowStatus(StringId id, int pane) {
    if (auto window = app_.MainWindow()) {
        window->Send({WM_STATUS_TEXT, static_cast<std::uint32_t>(id), pane, {}});
    }
    return 1;
}

int CLog::ExportToFile() {
    const auto path = platform::SystemTempFolder() / kExportFileName;
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (const std::string& line : Lines()) {
            out << line << '\n';
        }
        out.flush();
        if (!out) {
            LogError(app_.Languages().GetString(StringId::CantCreateTemporaryFile));
            return 0;
        }
    }
    const platform::ShellOpenResult opened = app_.Shell().Open(path);
    if (opened.status == platform::ShellOpenStatus::NoAssociatedApplication) {
        LogError(app_.Languages().Format(StringId::OpenNoApplication, {path.string()}));
    } else if (opened.status == platform::ShellOpenStatus::Failed) {
        LogError(app_.Languages().Format(StringId::OpenFailed, {path.string(), opened.code}));
    }
    return 1;
}

std::filesystem::path CLog::LogFolder() {
    return platform::UserStateFolder() / "Quarnel" / "Duzez";
}

void CLog::ApplySettings(const CSettings& settings) {
    std::lock_guard lock(mutex_);
    std::filesystem::path name = settings.LogFileName();
    if (name.empty())
        name = "Duzez Quarnel.log";
    name = name.is_absolute() ? name : LogFolder() / name;
    if (name != fileName_) {
        file_.reset();
    }
    fileName_ = name;
    fileMode_ = settings.SaveLogInFile();
    createNew_ = settings.ClearLogOnStartup();
    debugCopy_ = settings.LogToDebugOutput();
    maxFileBytes_ = std::uint64_t{settings.MaxLogFileSizeKb()} * 1024;
    if (!fileMode_) {
        file_.reset();
    }
}

bool CLog::OpenFileLocked() {
    platform::CreateFolders(fileName_.parent_path());
    file_.reset(platform::OpenOwnFileForAppending(fileName_, createNew_));
    // Clearing applies to the first opening of the run only.
    createNew_ = false;
    if (!file_) {
        fileMode_ = false;
        return false;
    }
    std::fseek(file_.get(), 0, SEEK_END);
    const long size = std::ftell(file_.get());
    fileBytes_ = size > 0 ? static_cast<std::uint64_t>(size) : 0;
    return true;
}

bool CLog::AppendToFileLocked(const std::string& line) {
    if (!file_ && !OpenFileLocked()) {
        return false;
    }
    const std::uint64_t needed = line.size() + 1;
    if (maxFileBytes_ != 0 && fileBytes_ > 0 && fileBytes_ + needed > maxFileBytes_) {
        // Keep one previous file: "<name>.1".
        file_.reset();
        std::error_code ec;
        auto previous = fileName_;
        previous += ".1";
        std::filesystem::rename(fileName_, previous, ec);
        createNew_ = true;
        if (!OpenFileLocked())
            return false;
    }
    if (std::fprintf(file_.get(), "%s\n", line.c_str()) < 0 || std::fflush(file_.get()) != 0) {
        return false;
    }
    fileBytes_ += needed;
    return true;
}

void CLog::SetTimestamps(bool on) {
    std::lock_guard lock(mutex_);
    timestamps_ = on;
}

void CLog::SetDebugCopy(bool on) {
    std::lock_guard lock(mutex_);
    debugCopy_ = on;
}

void CLog::SetClock(Clock clock) {
    std::lock_guard lock(mutex_);
    clock_ = std::move(clock);
}

std::vector<std::string> CLog::Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::chrono::system_clock::time_point CLog::LastLineTime() const {
    std::lock_guard lock(mutex_);
    return lastLineTime_;
}

std::filesystem::path CLog::LogFilePath() const {
    std::lock_guard lock(mutex_);
    return fileName_;
}

bool CLog::FileModeOn() const {
    std::lock_guard lock(mutex_);
    return fileMode_;
}

}  // namespace duzez::core
