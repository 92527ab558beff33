// Progress a person can plan by, on a terminal only, and the report a script reads: a card
// with live, deleted and carved-only files, scanned and recovered as a user would.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <regex>
#include <thread>
#include <vector>

#include "tests/cli/run_cli.h"
#include "tests/support/temp_folder.h"

namespace duzez::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string Sha256Sum(const fs::path& file) {
    return CommandOutput("sha256sum " + Quoted(file.string()) + " | cut -c1-64 | tr -d '\\n'");
}

// What a terminal was shown: every state of every redrawn line ("\033[K" starts one) and
// every plain line.
std::vector<std::string> Frames(const std::string& out) {
    std::vector<std::string> frames;
    std::size_t at = 0;
    while (at <= out.size()) {
        std::size_t end = out.find_first_of('\n', at);
        const std::size_t erase = out.find("\033[K", at);
        const bool byErase =
            erase != std::string::npos && (end == std::string::npos || erase < end);
        if (byErase)
            end = erase;
        if (end == std::string::npos)
            end = out.size();
        if (end > at)
            frames.push_back(out.substr(at, end - at));
        at = end + (byErase ? 3 : 1);
    }
    return frames;
}

std::size_t Columns(const std::string& text) {
    std::size_t columns = 0;
    for (const char c : text)
        columns += (static_cast<unsigned char>(c) & 0xc0) != 0x80 ? 1 : 0;
    return columns;
}

bool StartsWith(const std::string& text, const std::string& start) {
    return text.rfind(start, 0) == 0;
}

// A 1 GiB FAT32 card: live files, one deleted, and photos and documents lying in its free
// space where no directory names them, so that only the scan finds them. The card is large
// (and sparse) so that the scan lasts long enough to be watched.
class ProgressReportTest : public ::testing::Test {
  protected:
    static constexpr std::uint64_t kCarvedAt = 64 << 20;  // the first carved file, then 1 MiB apart
    static constexpr const char* kDeleted = "/_.JPG";     // B.JPG, deleted

    void SetUp() override {
        for (const char* tool : {"mkfs.fat", "mcopy", "mdel", "convert", "sha256sum"}) {
            if (!HaveTool(tool))
                GTEST_SKIP() << tool << " missing";
        }
        BuildCard(1 << 20);
    }

    void BuildCard(int kibibytes) {
        card_ = dir_ / "card.img";
        ASSERT_TRUE(RunCommand("mkfs.fat -C -F 32 " + Quoted(card_.string()) + " " +
                               std::to_string(kibibytes)));
        const std::string d = Quoted(dir_.path().string());
        ASSERT_TRUE(RunCommand("cd " + d +
                               " && convert -size 640x480 plasma:fractal -quality 85 A.JPG"
                               " && convert rose: -resize 300% B.JPG"
                               " && convert -size 300x200 gradient:gold-navy C.PNG"
                               " && convert -size 200x100 xc:red F.GIF"
                               " && convert rose: H.TIF"));
        WriteFile(dir_ / "E.PDF", "%PDF-1.4\n1 0 obj<<>>endobj\ntrailer<<>>\n%%EOF\n");
        // Large enough that its recovery is watched; bytes with no format's signature.
        WriteFile(dir_ / "BIG.BIN", Pattern(8 << 20, 3));
        for (const char* name : {"A.JPG", "B.JPG", "C.PNG", "E.PDF", "BIG.BIN"}) {
            ASSERT_TRUE(RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -i " + Quoted(card_.string()) + " " +
                                   Quoted((dir_ / name).string()) + " ::/"));
            // FAT forgets a deleted name's first letter.
            const std::string listed = name == std::string("B.JPG") ? "_.JPG" : name;
            originals_["/" + listed] = Sha256Sum(dir_ / name);
        }
        ASSERT_TRUE(
            RunCommand("MTOOLS_SKIP_CHECK=1 mdel -i " + Quoted(card_.string()) + " ::/B.JPG"));
        std::fstream disk(card_, std::ios::in | std::ios::out | std::ios::binary);
        for (std::size_t i = 0; i < carved_.size(); ++i) {
            const std::string bytes = ReadFile(dir_ / carved_[i]);
            disk.seekp(static_cast<std::streamoff>(kCarvedAt + (i << 20)));
            disk.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
        ASSERT_TRUE(disk.good());
    }

    std::string Recover(const fs::path& out, const std::string& options = "") const {
        return "recover " + Quoted(card_.string()) + " " + Quoted(out.string()) + " --deep" +
               options;
    }

    TempFolder dir_;
    fs::path card_;
    std::map<std::string, std::string> originals_;  // by path on the card
    // The files only the scan finds: 2 jpg, 1 png, 1 gif, 1 pdf, 1 tif.
    const std::vector<std::string> carved_ = {"A.JPG", "B.JPG", "C.PNG", "F.GIF", "E.PDF", "H.TIF"};
};

// The scan's line: percent, speed, elapsed and left, files found; the count per type only
// where the terminal has room for it; never wider than the terminal; its last state kept.
TEST_F(ProgressReportTest, TheScanLineShowsPercentTimesAndFilesFoundAndTypesWhenWide) {
    const struct {
        int columns;
        bool types;
    } kTerminals[] = {{80, false}, {200, true}};
    for (const auto& terminal : kTerminals) {
        SCOPED_TRACE(terminal.columns);
        const RunResult run =
            RunCliOnTerminal(Recover(dir_ / ("out" + std::to_string(terminal.columns))),
                             dir_.path(), terminal.columns);
        if (run.exitCode == -1 && run.out.empty())
            GTEST_SKIP() << "script(1) missing";
        EXPECT_EQ(run.exitCode, 0) << run.out;
        std::vector<std::string> scanning;
        std::string last;
        for (const std::string& frame : Frames(run.out)) {
            if (StartsWith(frame, "scanning ") || StartsWith(frame, "scanned ")) {
                EXPECT_LE(Columns(frame), static_cast<std::size_t>(terminal.columns)) << frame;
                if (StartsWith(frame, "scanning "))
                    scanning.push_back(frame);
                else
                    last = frame;
            }
        }
        ASSERT_FALSE(scanning.empty()) << run.out;
        const std::regex running(
            R"(^scanning \d+%  [0-9.]+ (bytes|kB|MB|GB)/s  elapsed \d\d:\d\d, left \d\d:\d\d  \d+ files? found.*)");
        EXPECT_TRUE(std::any_of(scanning.begin(), scanning.end(), [&](const std::string& f) {
            return std::regex_match(f, running);
        })) << run.out;
        // The last state stays as a record, on a line of its own, with every file counted.
        EXPECT_TRUE(StartsWith(last, "scanned 100%  ")) << run.out;
        EXPECT_NE(last.find("  6 files found"), std::string::npos) << last;
        EXPECT_NE(run.out.find(last + "\n"), std::string::npos) << run.out;
        const std::string types = "(2 jpg, 1 gif, 1 pdf, 1 png, 1 tif)";
        EXPECT_EQ(last.find(types) != std::string::npos, terminal.types) << last;
        for (const std::string& frame : scanning) {
            if (!terminal.types) {
                EXPECT_EQ(frame.find(" jpg"), std::string::npos) << frame;
            }
        }
    }
}

// The recovery's line: the whole run's share, files and bytes, times and the file being
// written; wiped before the summary, never wider than the terminal.
TEST_F(ProgressReportTest, TheRecoveryLineShowsTheWholeRunNotOneFile) {
    for (const int columns : {80, 200}) {
        SCOPED_TRACE(columns);
        const RunResult run = RunCliOnTerminal(Recover(dir_ / ("out" + std::to_string(columns))),
                                               dir_.path(), columns);
        if (run.exitCode == -1 && run.out.empty())
            GTEST_SKIP() << "script(1) missing";
        EXPECT_EQ(run.exitCode, 0) << run.out;
        const std::regex whole(
            R"(^\d+%  \d+ of 11 files  [0-9.]+ (bytes|kB|MB) of [0-9.]+ MB  elapsed \d\d:\d\d(, left \d\d:\d\d)?(  .+)?$)");
        std::size_t shown = 0;
        for (const std::string& frame : Frames(run.out)) {
            if (!std::regex_match(frame, std::regex(R"(^\d+%  .*)")))
                continue;
            ++shown;
            EXPECT_TRUE(std::regex_match(frame, whole)) << frame;
            EXPECT_LE(Columns(frame), static_cast<std::size_t>(columns)) << frame;
        }
        EXPECT_GT(shown, 0u) << run.out;
        // Wiped: the summary starts on the line the progress used.
        EXPECT_NE(run.out.find("\033[KFound 11 files; 11 selected."), std::string::npos) << run.out;
    }
}

// Through a pipe there is no progress at all, and stdout holds only what a script reads.
TEST_F(ProgressReportTest, NoProgressReachesAPipe) {
    const struct {
        std::string arguments;
        bool json;
    } kCommands[] = {
        {Recover(dir_ / "piped"), false},
        {"list " + Quoted(card_.string()) + " --deep", false},
        {Recover(dir_ / "piped-json", " --json"), true},
    };
    for (const auto& command : kCommands) {
        SCOPED_TRACE(command.arguments);
        const RunResult both = RunCli(command.arguments, dir_.path());
        EXPECT_LE(both.exitCode, 1) << both.out;
        for (const char* mark : {"\033", "\r", "scanning", "scanned ", "elapsed", " left "})
            EXPECT_EQ(both.out.find(mark), std::string::npos) << mark << " in:\n" << both.out;
        if (command.json) {
            const RunResult out =
                RunCliStdout(Recover(dir_ / "piped-json-2", " --json"), dir_.path());
            EXPECT_TRUE(json::accept(out.out)) << out.out;
        }
    }
}

// The report: every selected file, where it came from and went, its outcome, and the
// SHA-256 of what was written; a second run finds them already recovered.
TEST_F(ProgressReportTest, TheReportNamesEveryFileWithTheChecksumOfWhatWasWritten) {
    const fs::path out = dir_ / "out";
    const fs::path reportFile = dir_ / "reports" / "first.json";
    fs::create_directories(reportFile.parent_path());
    const RunResult run =
        RunCliStdout(Recover(out, " --json --report " + Quoted(reportFile.string())), dir_.path());
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const json summary = json::parse(run.out);
    EXPECT_EQ(summary["report"], reportFile.string());
    const json report = json::parse(ReadFile(reportFile));
    EXPECT_EQ(report["target"], card_.string());
    EXPECT_EQ(report["destination"], out.string());
    EXPECT_EQ(report["options"]["deep"], true);
    EXPECT_TRUE(std::regex_match(report["started"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")))
        << report["started"];

    std::size_t written = 0;
    std::size_t carved = 0;
    for (const json& file : report["files"]) {
        SCOPED_TRACE(file.dump());
        EXPECT_EQ(file["outcome"], "recovered");
        ASSERT_TRUE(file["path"].is_string());
        const fs::path path = file["path"].get<std::string>();
        EXPECT_TRUE(path.is_absolute());
        ASSERT_TRUE(fs::is_regular_file(path));
        EXPECT_EQ(file["sha256"], Sha256Sum(path));
        ++written;
        const std::string volumePath = file["volumePath"];
        if (const auto original = originals_.find(volumePath); original != originals_.end()) {
            EXPECT_EQ(file["sha256"], original->second);
            EXPECT_EQ(path, out / volumePath.substr(1)) << "written under its own name";
            EXPECT_EQ(file["deleted"], volumePath == kDeleted);
            EXPECT_EQ(file["state"], volumePath == kDeleted ? "deleted" : "live");
            EXPECT_EQ(file["foundBySignature"], false);
        } else {
            // A carved file: where it was put on the card, its bytes those put there.
            EXPECT_EQ(file["foundBySignature"], true);
            EXPECT_EQ(file["state"], "signature only");
            const auto start = file["start"].get<std::uint64_t>();
            ASSERT_EQ((start - kCarvedAt) % (1 << 20), 0u) << start;
            const std::string& name = carved_.at((start - kCarvedAt) >> 20);
            if (name != "E.PDF") {  // its end is only estimated
                EXPECT_EQ(file["sha256"], Sha256Sum(dir_ / name)) << name;
            }
            ++carved;
        }
    }
    EXPECT_EQ(carved, carved_.size());
    EXPECT_EQ(written, 11u);
    std::size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(out))
        files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, written) << "every file written is in the report";

    // Run again into the same folder: the same bytes are there already.
    const fs::path second = dir_ / "reports" / "second.json";
    ASSERT_EQ(
        RunCliStdout(Recover(out, " --report " + Quoted(second.string())), dir_.path()).exitCode,
        0);
    const json again = json::parse(ReadFile(second));
    ASSERT_EQ(again["files"].size(), 11u);
    for (const json& file : again["files"]) {
        EXPECT_EQ(file["outcome"], "already recovered") << file.dump();
        EXPECT_EQ(file["sha256"], Sha256Sum(file["path"].get<std::string>())) << file.dump();
    }
}

// A report never lands on the drive being read nor replaces a file: refused with exit code
// 2 before anything is read, and what was there stays as it was.
TEST_F(ProgressReportTest, AReportOnTheSourceOrOverAFileIsRefusedBeforeTheAnalysis) {
    WriteFile(dir_ / "kept.json", "the user's own file");
    fs::create_directories(dir_ / "links");
    fs::create_symlink(card_, dir_ / "links" / "card.json");
    fs::create_symlink(dir_ / "nowhere", dir_ / "links" / "dangling.json");
    const struct {
        fs::path report;
        const char* says;
    } kRefused[] = {
        {card_, "is the drive or image being recovered from"},
        {dir_ / "links" / "card.json", "is the drive or image being recovered from"},
        {dir_ / "kept.json", "exists; a report never replaces a file"},
        {dir_ / "links" / "dangling.json", "exists; a report never replaces a file"},
        {dir_ / "folder/", "needs the name of a file"},
    };
    const std::string cardBefore = Sha256Sum(card_);
    for (const auto& refused : kRefused) {
        SCOPED_TRACE(refused.report.string());
        const RunResult run =
            RunCli("-v " + Recover(dir_ / "out", " --report " + Quoted(refused.report.string())),
                   dir_.path());
        EXPECT_EQ(run.exitCode, 2) << run.out;
        EXPECT_NE(run.out.find(refused.says), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("Analy"), std::string::npos) << "no analysis ran:\n" << run.out;
        EXPECT_FALSE(fs::exists(dir_ / "out"));
    }
    EXPECT_EQ(Sha256Sum(card_), cardBefore);
    EXPECT_EQ(ReadFile(dir_ / "kept.json"), "the user's own file");
    EXPECT_FALSE(fs::exists(dir_ / "nowhere"));
    EXPECT_TRUE(fs::is_symlink(dir_ / "links" / "dangling.json"));
}

// Ctrl-C during the scan: the files found so far are recovered and the report says so.
TEST_F(ProgressReportTest, AfterCtrlCTheReportSaysWhatWasDone) {
    const fs::path out = dir_ / "out";
    const fs::path reportFile = dir_ / "stopped.json";
    const fs::path log = dir_ / "run.log";
    const auto run = duzez::test::RunCliInterrupted(
        {"-v", "recover", card_.string(), out.string(), "--deep", "--report", reportFile.string()},
        dir_.path(), log, "Starting drive sector analysis");
    const std::string& output = run.out;
    ASSERT_TRUE(run.signalled) << output;
    ASSERT_NE(run.exitCode, -1) << output;
    ASSERT_TRUE(fs::is_regular_file(reportFile)) << output;
    const json report = json::parse(ReadFile(reportFile));
    EXPECT_EQ(report["summary"]["interrupted"], true);
    EXPECT_TRUE(SchemaProblems(report.dump(), "recover-report").empty());
    std::map<std::string, json> byPath;
    for (const json& file : report["files"])
        byPath[file["volumePath"]] = file;
    // The file-system phase was over: its files are all there, checked.
    for (const auto& [path, sha] : originals_) {
        ASSERT_TRUE(byPath.count(path)) << path << "\n" << report.dump(2);
        EXPECT_EQ(byPath[path]["outcome"], "recovered") << path;
        EXPECT_EQ(byPath[path]["sha256"], sha) << path;
    }
}

// The report and recover --json follow the schemas kept in the repository, which admit
// nothing they do not name.
TEST_F(ProgressReportTest, ReportAndJsonOutputFollowTheirSchemas) {
    const fs::path reportFile = dir_ / "report.json";
    const RunResult withFiles = RunCliStdout(
        Recover(dir_ / "out", " --json --report " + Quoted(reportFile.string())), dir_.path());
    const RunResult nothing =
        RunCliStdout(Recover(dir_ / "none", " --json --match 'NO_SUCH_*'"), dir_.path());
    ASSERT_TRUE(fs::is_regular_file(reportFile)) << withFiles.out;
    json extra = json::parse(ReadFile(reportFile));
    extra["files"][0]["extra"] = 1;
    json missing = json::parse(withFiles.out);
    missing.erase("bytes");
    const struct {
        const char* what;
        std::string document;
        std::string schema;
        bool valid;
    } kDocuments[] = {
        {"the report", ReadFile(reportFile), "recover-report", true},
        {"recover --json", withFiles.out, "recover", true},
        {"recover --json with nothing selected", nothing.out, "recover", true},
        {"a report with a key no one named", extra.dump(), "recover-report", false},
        {"recover --json without its bytes", missing.dump(), "recover", false},
    };
    for (const auto& document : kDocuments) {
        SCOPED_TRACE(document.what);
        const std::string problems = SchemaProblems(document.document, document.schema);
        EXPECT_EQ(problems.empty(), document.valid) << problems << "\n" << document.document;
    }
}

}  // namespace
}  // namespace duzez::test
