// Progress a person can plan by, on a terminal only, and the report a script reads: a card
// with live, deleted and carved-only files, scanned and recovered as a user would.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/cli/run_cli.h"
#include "tests/support/temp_folder.h"

namespace duzez::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// How many columns a UTF-8 line takes: one per character.
std::size_t Columns(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xc0) != 0x80;
    }));
}

// A 1 GiB FAT32 card: live files, one deleted, and photos and documents lying in its free
// space where no directory names them, so that only the scan finds them. The card is large
// (and sparse) so that the scan lasts long enough to be watched.
class ProgressReportTest : public ::testing::Test {
  protected:
    static constexpr std::uint64_t kCarvedAt = 64 << 20;  // the first carved file, then 1 MiB apart
    static constexpr const char* kDeleted = "/_.JPG";     // B.JPG: FAT forgets its first letter
    // The files only the scan finds: 2 jpg, 1 png, 1 gif, 1 pdf, 1 tif.
    static constexpr std::array<const char*, 6> kCarved = {"A.JPG", "B.JPG", "C.PNG",
                                                           "F.GIF", "E.PDF", "H.TIF"};

    void SetUp() override {
        for (const char* tool : {"mkfs.fat", "mcopy", "mdel", "convert", "sha256sum"}) {
            if (!HaveTool(tool))
                GTEST_SKIP() << tool << " missing";
        }
        ASSERT_TRUE(RunCommand("cd " + Quoted(dir_.path().string()) +
                               " && convert -size 640x480 plasma:fractal -quality 85 A.JPG"
                               " && convert rose: -resize 300% B.JPG"
                               " && convert -size 300x200 gradient:gold-navy C.PNG"
                               " && convert -size 200x100 xc:red F.GIF"
                               " && convert rose: H.TIF"));
        WriteFile(dir_ / "E.PDF", "%PDF-1.4\n1 0 obj<<>>endobj\ntrailer<<>>\n%%EOF\n");
        // Large enough that its recovery is watched; bytes with no format's signature.
        WriteFile(dir_ / "BIG.BIN", Pattern(8 << 20, 3));
        std::vector<std::string> steps;
        for (const std::string name : {"A.JPG", "B.JPG", "C.PNG", "E.PDF", "BIG.BIN"}) {
            steps.push_back("mcopy " + Quoted((dir_ / name).string()) + " ::/");
            originals_[name == "B.JPG" ? kDeleted : "/" + name] = Sha256Sum(dir_ / name);
        }
        steps.push_back("mdel ::/B.JPG");
        ASSERT_TRUE(MakeFatImage(card_, "-F 32", 1 << 20, steps));
        std::fstream disk(card_, std::ios::in | std::ios::out | std::ios::binary);
        for (std::size_t i = 0; i < kCarved.size(); ++i) {
            const std::string bytes = ReadFile(dir_ / kCarved[i]);
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
    fs::path card_ = dir_ / "card.img";
    std::map<std::string, std::string> originals_;  // SHA-256 by path on the card
};

// On a terminal the scan's line gives percent, speed, elapsed and left time and files found,
// the count per type only where there is room, and its last state stays; the recovery's
// line gives the whole run's share, files, bytes and times, and is wiped before the summary.
// Neither is wider than the terminal.
TEST_F(ProgressReportTest, TheProgressLinesShowTheWholeRunAndFitTheTerminal) {
    const std::regex scanning(
        R"(scanning \d+%  [0-9.]+ (bytes|kB|MB|GB)/s  elapsed \d\d:\d\d, left \d\d:\d\d  \d+ files? found.*)");
    const std::regex recovering(
        R"(\d+%  \d+ of 11 files  [0-9.]+ (bytes|kB|MB) of [0-9.]+ MB  elapsed \d\d:\d\d(, left \d\d:\d\d)?(  .+)?)");
    const std::regex percent(R"(\d+%  .*)");
    for (const auto& [columns, types] : {std::pair{80, false}, {200, true}}) {
        SCOPED_TRACE(columns);
        const RunResult run = RunCliOnTerminal(Recover(dir_ / ("out" + std::to_string(columns))),
                                               dir_.path(), columns);
        if (run.exitCode == -1 && run.out.empty())
            GTEST_SKIP() << "script(1) missing";
        EXPECT_EQ(run.exitCode, 0) << run.out;
        bool planned = false;
        std::size_t recoveryStates = 0;
        std::string last;
        for (const std::string& frame : TerminalFrames(run.out)) {
            const bool scan = frame.starts_with("scanning ");
            const bool recovery = std::regex_match(frame, percent);
            if (!scan && !recovery && !frame.starts_with("scanned "))
                continue;
            EXPECT_LE(Columns(frame), static_cast<std::size_t>(columns)) << frame;
            planned = planned || (scan && std::regex_match(frame, scanning));
            if (scan && !types) {
                EXPECT_EQ(frame.find(" jpg"), std::string::npos) << frame;
            }
            if (recovery) {
                ++recoveryStates;
                EXPECT_TRUE(std::regex_match(frame, recovering)) << frame;
            }
            if (!scan && !recovery)
                last = frame;
        }
        EXPECT_TRUE(planned) << run.out;
        EXPECT_GT(recoveryStates, 0u) << run.out;
        // The scan's last state stays as a record, on a line of its own, with every file counted.
        EXPECT_TRUE(last.starts_with("scanned 100%  ")) << run.out;
        EXPECT_NE(last.find("  6 files found"), std::string::npos) << last;
        EXPECT_NE(run.out.find(last + "\n"), std::string::npos) << run.out;
        EXPECT_EQ(last.find("(2 jpg, 1 gif, 1 pdf, 1 png, 1 tif)") != std::string::npos, types)
            << last;
        // The recovery's line is wiped: the summary starts on the line it used.
        EXPECT_NE(run.out.find("\033[KFound 11 files; 11 selected."), std::string::npos) << run.out;
    }
}

// Through a pipe there is no progress at all, and stdout holds only what a script reads.
TEST_F(ProgressReportTest, NoProgressReachesAPipe) {
    for (const std::string& arguments :
         {Recover(dir_ / "piped"), "list " + Quoted(card_.string()) + " --deep",
          Recover(dir_ / "piped-json", " --json")}) {
        SCOPED_TRACE(arguments);
        const RunResult both = RunCli(arguments, dir_.path());
        EXPECT_LE(both.exitCode, 1) << both.out;
        for (const char* mark : {"\033", "\r", "scanning", "scanned ", "elapsed", " left "})
            EXPECT_EQ(both.out.find(mark), std::string::npos) << mark << " in:\n" << both.out;
    }
    const RunResult out = RunCliStdout(Recover(dir_ / "piped-json-2", " --json"), dir_.path());
    EXPECT_TRUE(json::accept(out.out)) << out.out;
}

// The report: every selected file, where it came from and went, its outcome, and the
// SHA-256 of what was written; a second run finds them already recovered.
TEST_F(ProgressReportTest, TheReportNamesEveryFileWithTheChecksumOfWhatWasWritten) {
    const fs::path out = dir_ / "out";
    const fs::path reportFile = dir_ / "reports" / "first.json";
    fs::create_directories(reportFile.parent_path());
    const json summary = CheckedJson(Recover(out, " --report " + Quoted(reportFile.string())),
                                     dir_.path(), "recover");
    EXPECT_EQ(summary.value("report", ""), reportFile.string());
    json report = json::parse(ReadFile(reportFile));
    EXPECT_EQ(report["target"], card_.string());
    EXPECT_EQ(report["destination"], out.string());
    EXPECT_EQ(report["options"]["deep"], true);
    EXPECT_TRUE(std::regex_match(report["started"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")))
        << report["started"];

    std::size_t carved = 0;
    for (json& file : report["files"]) {
        SCOPED_TRACE(file.dump());
        EXPECT_EQ(file["outcome"], "recovered");
        const fs::path path = file.value("path", "");
        ASSERT_TRUE(path.is_absolute() && fs::is_regular_file(path));
        EXPECT_EQ(file["sha256"], Sha256Sum(path));
        const std::string volumePath = file.value("volumePath", "");
        if (const auto original = originals_.find(volumePath); original != originals_.end()) {
            EXPECT_EQ(file["sha256"], original->second);
            EXPECT_EQ(path, out / volumePath.substr(1)) << "written under its own name";
            EXPECT_EQ(file["deleted"], volumePath == kDeleted);
            EXPECT_EQ(file["state"], volumePath == kDeleted ? "deleted" : "live");
            EXPECT_EQ(file["foundBySignature"], false);
            continue;
        }
        // A carved file: where it was put on the card, its bytes those put there.
        ++carved;
        EXPECT_EQ(file["foundBySignature"], true);
        EXPECT_EQ(file["state"], "signature only");
        const auto start = file["start"].get<std::uint64_t>();
        ASSERT_EQ((start - kCarvedAt) % (1 << 20), 0u) << start;
        const std::string name = kCarved.at((start - kCarvedAt) >> 20);
        if (name != "E.PDF") {  // its end is only estimated
            EXPECT_EQ(file["sha256"], Sha256Sum(dir_ / name)) << name;
        }
    }
    EXPECT_EQ(carved, kCarved.size());
    EXPECT_EQ(report["files"].size(), 11u);
    const auto written = std::count_if(fs::recursive_directory_iterator(out), {},
                                       [](const auto& entry) { return entry.is_regular_file(); });
    EXPECT_EQ(written, 11) << "every file written is in the report";

    // Run again into the same folder: the same bytes are there already.
    const fs::path second = dir_ / "reports" / "second.json";
    ASSERT_EQ(
        RunCliStdout(Recover(out, " --report " + Quoted(second.string())), dir_.path()).exitCode,
        0);
    json again = json::parse(ReadFile(second));
    ASSERT_EQ(again["files"].size(), 11u);
    for (json& file : again["files"]) {
        EXPECT_EQ(file["outcome"], "already recovered") << file.dump();
        EXPECT_EQ(file["sha256"], Sha256Sum(file.value("path", ""))) << file.dump();
    }
}

// A report never lands on the drive being read nor replaces a file: refused with exit code
// 2 before anything is read, and what was there stays as it was.
TEST_F(ProgressReportTest, AReportOnTheSourceOrOverAFileIsRefusedBeforeTheAnalysis) {
    WriteFile(dir_ / "kept.json", "the user's own file");
    fs::create_directories(dir_ / "links");
    fs::create_symlink(card_, dir_ / "links" / "card.json");
    fs::create_symlink(dir_ / "nowhere", dir_ / "links" / "dangling.json");
    const std::pair<fs::path, const char*> refused[] = {
        {card_, "is the drive or image being recovered from"},
        {dir_ / "links" / "card.json", "is the drive or image being recovered from"},
        {dir_ / "kept.json", "exists; a report never replaces a file"},
        {dir_ / "links" / "dangling.json", "exists; a report never replaces a file"},
        {dir_ / "folder/", "needs the name of a file"},
    };
    const std::string cardBefore = Sha256Sum(card_);
    for (const auto& [report, says] : refused) {
        SCOPED_TRACE(report.string());
        const RunResult run = RunCli(
            "-v " + Recover(dir_ / "out", " --report " + Quoted(report.string())), dir_.path());
        EXPECT_EQ(run.exitCode, 2) << run.out;
        EXPECT_NE(run.out.find(says), std::string::npos) << run.out;
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
    const fs::path reportFile = dir_ / "stopped.json";
    const InterruptedRun run =
        RunCliInterrupted({"-v", "recover", card_.string(), (dir_ / "out").string(), "--deep",
                           "--report", reportFile.string()},
                          dir_.path(), dir_ / "run.log", "Starting drive sector analysis");
    ASSERT_TRUE(run.signalled) << run.out;
    ASSERT_NE(run.exitCode, -1) << run.out;
    ASSERT_TRUE(fs::is_regular_file(reportFile)) << run.out;
    json report = json::parse(ReadFile(reportFile));
    EXPECT_EQ(report["summary"]["interrupted"], true);
    EXPECT_EQ(SchemaProblems(report.dump(), "recover-report"), "");
    std::map<std::string, json> byPath;
    for (const json& file : report["files"])
        byPath[file.value("volumePath", "")] = file;
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
    json missing = JsonOut(withFiles);
    missing.erase("bytes");
    const std::tuple<const char*, std::string, const char*, bool> documents[] = {
        {"the report", ReadFile(reportFile), "recover-report", true},
        {"recover --json", withFiles.out, "recover", true},
        {"recover --json with nothing selected", nothing.out, "recover", true},
        {"a report with a key no one named", extra.dump(), "recover-report", false},
        {"recover --json without its bytes", missing.dump(), "recover", false},
    };
    for (const auto& [what, document, schema, valid] : documents) {
        SCOPED_TRACE(what);
        const std::string problems = SchemaProblems(document, schema);
        EXPECT_EQ(problems.empty(), valid) << problems << "\n" << document;
    }
}

}  // namespace
}  // namespace duzez::test
