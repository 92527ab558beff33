#include "core/log.h"

#include <gtest/gtest.h>

#include <ctime>
#include <thread>

#include "core/app.h"
#include "core/window_messages.h"
#include "tests/support/temp_folder.h"

namespace duzez::core {
namespace {

class RecordingOpener : public platform::ShellOpener {
  public:
    explicit RecordingOpener(std::vector<std::filesystem::path>& opened,
                             platform::ShellOpenStatus answer = platform::ShellOpenStatus::Opened)
        : opened_(opened), answer_(answer) {}
    platform::ShellOpenResult Open(const std::filesystem::path& file) override {
        opened_.push_back(file);
        return {answer_, answer_ == platform::ShellOpenStatus::Failed ? 4 : 0};
    }

  private:
    std::vector<std::filesystem::path>& opened_;
    platform::ShellOpenStatus answer_;
};

class LogTest : public ::testing::Test {
  protected:
    CApp& App(platform::ShellOpenStatus answer = platform::ShellOpenStatus::Opened) {
        if (!app_) {
            CAppOptions options;
            options.storePath = dir_ / "config" / "registry.reg";
            options.languageFolder = dir_ / "Languages";
            options.shell = std::make_unique<RecordingOpener>(opened_, answer);
            app_ = std::make_unique<CApp>(std::move(options));
            app_->LoadSettings();
        }
        return *app_;
    }

    test::TempFolder dir_;
    test::ScopedEnv tmp_{"TMPDIR", dir_.path().string()};
    test::ScopedEnv state_{"XDG_STATE_HOME", (dir_ / "state").string()};
    std::vector<std::filesystem::path> opened_;
    std::unique_ptr<CApp> app_;
};

TEST_F(LogTest, LineFormatsOfEveryLevelWithoutTimestamps) {
    CLog log(App());
    log.SetTimestamps(false);
    log.LogText("debugging", CLog::Debug);
    log.LogText("broken", CLog::Error);
    log.LogText("plain", CLog::Info);
    log.LogText("fatal", CLog::Critical);
    log.LogException("view trouble");
    log.LogText("odd level", 3);
    EXPECT_EQ(log.Lines(),
              (std::vector<std::string>{"DBG: debugging", "ERR: broken", "plain",
                                        "CRITICALERR: fatal", "view trouble", "odd level"}));
}

TEST_F(LogTest, TimestampIsIsoLocalTimeThenHyphen) {
    const auto when = std::chrono::system_clock::from_time_t(1700000000);  // 22:13:20 UTC
    std::vector<std::string> lines;
    {
        // Five hours behind UTC: the local time, not UTC, is written.
        test::ScopedEnv zone("TZ", "EST5");
        ::tzset();
        CLog log(App());
        log.SetClock([when] { return when; });
        log.LogMessage(StringId::InitializingDrive, "C:");
        log.LogError("disk %s failed", "sdb");
        log.LogText("x", CLog::Critical);
        lines = log.Lines();
        EXPECT_EQ(log.LastLineTime(), when);
    }
    ::tzset();
    EXPECT_EQ(lines, (std::vector<std::string>{"2023-11-14T17:13:20 - Initializing drive C:",
                                               "2023-11-14T17:13:20 - ERR: disk sdb failed",
                                               "2023-11-14T17:13:20 - CRITICALERR: x"}));
}

TEST_F(LogTest, LinesBeforeAnyWindowAreKeptAndLaterOnesArePosted) {
    CLog log(App());
    log.SetTimestamps(false);
    log.LogInfo("early");
    auto pane = std::make_shared<platform::MessageRecorder>();
    App().SetLogPane(pane);
    log.LogInfo("late");
    const auto posted = pane->MessagesWithId(WM_LOG_LINE);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].text, "late");
    EXPECT_EQ(posted[0].wParam, 0u);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"early", "late"}));
}

TEST_F(LogTest, StatusTextIsSentToTheTopLevelWindow) {
    CLog log(App());
    EXPECT_EQ(log.ShowStatus(StringId::Ready, 0), 1);  // no window: nothing, still 1
    auto window = std::make_shared<platform::MessageRecorder>();
    App().SetMainWindow(window);
    log.ShowStatus(StringId::AnalyzingFileSystem, 2);
    const auto sent = window->MessagesWithId(WM_STATUS_TEXT);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].wParam, 57211u);
    EXPECT_EQ(sent[0].lParam, 2);
}

TEST_F(LogTest, ExportWritesEveryLineOldestFirstAndOpensIt) {
    CLog log(App());
    log.SetTimestamps(false);
    log.LogInfo("first");
    log.LogError("second");
    EXPECT_EQ(log.ExportToFile(), 1);
    const auto exported = dir_ / "Recovery log file.txt";
    EXPECT_EQ(test::ReadFile(exported), "first\nERR: second\n");
    EXPECT_EQ(opened_, std::vector<std::filesystem::path>{exported});
}

TEST_F(LogTest, ExportOfAnEmptyLogCreatesAnEmptyFile) {
    CLog log(App());
    test::WriteFile(dir_ / "Recovery log file.txt", "old content");
    EXPECT_EQ(log.ExportToFile(), 1);
    EXPECT_EQ(test::ReadFile(dir_ / "Recovery log file.txt"), "");
    EXPECT_EQ(opened_.size(), 1u);
}

TEST_F(LogTest, ExportThatCannotCreateItsFileLogsAndReturnsZero) {
    CLog log(App());
    log.SetTimestamps(false);
    std::filesystem::create_directories(dir_ / "Recovery log file.txt");  // in the way
    EXPECT_EQ(log.ExportToFile(), 0);
    EXPECT_EQ(log.Lines().back(), "ERR: Can't create temporary file");
    EXPECT_TRUE(opened_.empty());
}

TEST_F(LogTest, ExportWithNoAssociatedApplicationSaysSo) {
    CLog log(App(platform::ShellOpenStatus::NoAssociatedApplication));
    log.SetTimestamps(false);
    EXPECT_EQ(log.ExportToFile(), 1);
    EXPECT_NE(log.Lines().back().find("No application associated"), std::string::npos);
}

TEST_F(LogTest, ConcurrentLoggingLosesNoLine) {
    CLog log(App());
    log.SetTimestamps(false);
    auto pane = std::make_shared<platform::MessageRecorder>();
    App().SetLogPane(pane);
    constexpr int kThreads = 8;
    constexpr int kLines = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&log, t] {
            for (int i = 0; i < kLines; ++i) {
                log.LogMessageArgs(static_cast<std::uint32_t>(StringId::NameWithSize),
                                   {"t" + std::to_string(t), static_cast<long long>(i)});
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
    EXPECT_EQ(pane->Messages().size(), lines.size());
    std::vector<int> next(kThreads, 0);
    for (const std::string& line : lines) {
        const int t = line[1] - '0';
        EXPECT_EQ(line, "t" + std::to_string(t) + " [size: " + std::to_string(next[t]++) + "]");
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(pane->Messages()[i].text, lines[i]) << "pane order differs at " << i;
    }
}

TEST_F(LogTest, SavedLogFileGetsEveryLineAndRotatesAtItsCap) {
    CSettings& settings = App().Settings();
    settings.SetFlag(CSettings::kSaveLogInFile, true);
    settings.SetFlag(CSettings::kLogToDebugOutput, false);
    settings.SetWord(CSettings::kMaxLogFileSizeKb, 1);
    test::WriteFile(dir_ / "state" / "Quarnel" / "Duzez" / "Duzez Quarnel.log", "previous run\n");
    CLog log(App());
    log.SetTimestamps(false);
    log.ApplySettings(settings);
    const auto file = dir_ / "state" / "Quarnel" / "Duzez" / "Duzez Quarnel.log";
    EXPECT_EQ(log.LogFilePath(), file);
    log.LogInfo("one");
    EXPECT_EQ(test::ReadFile(file), "one\n") << "cleared on start-up";
    const std::string line(100, 'x');
    for (int i = 0; i < 15; ++i)
        log.LogInfo(line);
    EXPECT_LE(std::filesystem::file_size(file), 1024u);
    EXPECT_TRUE(std::filesystem::exists(file.string() + ".1"));
    const std::string all = test::ReadFile(file.string() + ".1") + test::ReadFile(file);
    EXPECT_EQ(all.size(), 4 + 15 * 101u) << "no line lost across the rotation";
}

TEST_F(LogTest, UnopenableLogFileSwitchesFileModeOffAndKeepsLinesInMemory) {
    CSettings& settings = App().Settings();
    settings.SetFlag(CSettings::kSaveLogInFile, true);
    settings.SetFlag(CSettings::kLogToDebugOutput, false);
    std::filesystem::create_directories(dir_ / "blocked.log");
    settings.SetLogFileName((dir_ / "blocked.log").string());
    CLog log(App());
    log.ApplySettings(settings);
    EXPECT_TRUE(log.FileModeOn());
    log.LogInfo("still here");
    EXPECT_FALSE(log.FileModeOn());
    EXPECT_EQ(log.Lines().size(), 1u);
}

TEST_F(LogTest, ALinkAtTheLogsNameIsNeverFollowed) {
    CSettings& settings = App().Settings();
    settings.SetFlag(CSettings::kSaveLogInFile, true);
    settings.SetFlag(CSettings::kLogToDebugOutput, false);
    for (const bool clear : {true, false}) {
        settings.SetFlag(CSettings::kClearLogOnStartup, clear);
        test::WriteFile(dir_ / "precious", "kept\n");
        std::filesystem::remove(dir_ / "planted.log");
        std::filesystem::create_symlink(dir_ / "precious", dir_ / "planted.log");
        settings.SetLogFileName((dir_ / "planted.log").string());
        CLog log(App());
        log.ApplySettings(settings);
        log.LogInfo("not into the link's target");
        EXPECT_FALSE(log.FileModeOn()) << clear;
        EXPECT_EQ(test::ReadFile(dir_ / "precious"), "kept\n") << clear;
    }
}

TEST_F(LogTest, ProblemsMetBeforeTheLogExistedBecomeItsFirstLines) {
    test::WriteFile(dir_ / "config" / "registry.reg", "garbage");
    CLog log(App());
    ASSERT_FALSE(log.Lines().empty());
    EXPECT_NE(log.Lines()[0].find("ERR: The settings store could not be read"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir_ / "config" / "registry.reg.bad"));
}

}  // namespace
}  // namespace duzez::core
