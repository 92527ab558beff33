// `list` as a person reads it on a terminal and as a script reads it through a pipe, and the
// options it shares with `recover`.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "tests/cli/run_cli.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using duzez::test::HaveTool;
using duzez::test::Quoted;
using duzez::test::ReadFile;
using duzez::test::RunCli;
using duzez::test::RunCliOnTerminal;
using duzez::test::RunCliStdout;
using duzez::test::RunCommand;
using duzez::test::RunResult;
using duzez::test::WriteFile;

const std::string kLongFolder = "Holidays in the mountains with the whole family and the dog";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::size_t Characters(const std::string& line) {
    return static_cast<std::size_t>(std::count_if(line.begin(), line.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// The paths of the table's rows, in order: the last column.
std::vector<std::string> RowPaths(const std::string& listing) {
    std::vector<std::string> paths;
    for (const std::string& line : Lines(listing)) {
        const auto at = line.find("  /");
        if (at != std::string::npos && line.find(" Path") == std::string::npos)
            paths.push_back(line.substr(at + 2));
    }
    return paths;
}

// A FAT card with photos of known sizes and dates: three JPEGs (one deleted), a Canon raw,
// a PNG (deleted), and one JPEG deep in a folder with a long name.
class ListCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveTool("mkfs.fat") || !HaveTool("mcopy"))
            GTEST_SKIP() << "dosfstools or mtools missing";
        card_ = dir_ / "card.img";
        ASSERT_TRUE(
            RunCommand("mkfs.fat -C -F 16 " + Quoted(card_.string()) + " 20000 >/dev/null"));
        Mtools("mmd -i " + Quoted(card_.string()) + " ::/DCIM ::/DCIM/100CANON " +
               Quoted("::/DCIM/" + kLongFolder));
        const std::pair<const char*, std::size_t> photos[] = {
            {"IMG_0001.JPG", 30000}, {"IMG_0002.JPG", 5000},  {"IMG_0003.CR2", 90000},
            {"IMG_0004.PNG", 12000}, {"IMG_0005.JPG", 64000},
        };
        int day = 1;
        for (const auto& [name, size] : photos) {
            WriteFile(dir_ / name, duzez::test::Pattern(size, static_cast<unsigned>(size)));
            // Dates one day apart, the first photo oldest.
            ASSERT_TRUE(RunCommand("touch -d '2024-05-0" + std::to_string(day++) + " 12:00' " +
                                   Quoted((dir_ / name).string())));
            sizes_[name] = size;
        }
        for (const char* name : {"IMG_0001.JPG", "IMG_0002.JPG", "IMG_0003.CR2", "IMG_0004.PNG"}) {
            Mtools("mcopy -m -i " + Quoted(card_.string()) + " " + Quoted((dir_ / name).string()) +
                   " ::/DCIM/100CANON/");
        }
        Mtools("mcopy -m -i " + Quoted(card_.string()) + " " +
               Quoted((dir_ / "IMG_0005.JPG").string()) + " " +
               Quoted("::/DCIM/" + kLongFolder + "/"));
        Mtools("mdel -i " + Quoted(card_.string()) +
               " ::/DCIM/100CANON/IMG_0002.JPG ::/DCIM/100CANON/IMG_0004.PNG");
    }

    void Mtools(const std::string& command) {
        ASSERT_TRUE(RunCommand("MTOOLS_SKIP_CHECK=1 " + command)) << command;
    }

    RunResult List(const std::string& options) {
        return RunCli("list " + Quoted(card_.string()) + " " + options, dir_.path());
    }

    duzez::test::TempFolder dir_;
    fs::path card_;
    std::map<std::string, std::size_t> sizes_;
};

TEST_F(ListCommandTest, TableFitsTheTerminalAndAPipeGetsWholePathsAndBytes) {
    const std::string longPath = "/DCIM/" + kLongFolder + "/IMG_0005.JPG";
    for (const int columns : {80, 200}) {
        const RunResult shown =
            RunCliOnTerminal("list " + Quoted(card_.string()), dir_.path(), columns);
        if (shown.exitCode == -1)
            GTEST_SKIP() << "script(1) missing";
        ASSERT_EQ(shown.exitCode, 0) << shown.out;
        const auto lines = Lines(shown.out);
        ASSERT_FALSE(lines.empty());
        EXPECT_NE(lines[0].find("Size"), std::string::npos) << shown.out;
        EXPECT_NE(lines[0].find("Offset"), std::string::npos) << shown.out;
        EXPECT_NE(lines[0].find("Path"), std::string::npos) << shown.out;
        for (const std::string& line : lines)
            EXPECT_LE(Characters(line), static_cast<std::size_t>(columns)) << line;
        // Sizes a person reads, the exact bytes nowhere.
        EXPECT_NE(shown.out.find("64.0 kB"), std::string::npos) << shown.out;
        EXPECT_EQ(shown.out.find("64000"), std::string::npos) << shown.out;
        if (columns == 80) {
            EXPECT_EQ(shown.out.find(longPath), std::string::npos) << shown.out;
            EXPECT_NE(shown.out.find("\u2026"), std::string::npos) << shown.out;
            // Shortened in the middle: both ends stay.
            EXPECT_NE(shown.out.find("/DCIM/Hol"), std::string::npos) << shown.out;
            EXPECT_NE(shown.out.find("dog/IMG_0005.JPG"), std::string::npos) << shown.out;
        } else {
            EXPECT_NE(shown.out.find(longPath), std::string::npos) << shown.out;
        }
    }
    const RunResult bytes =
        RunCliOnTerminal("list " + Quoted(card_.string()) + " --bytes", dir_.path(), 200);
    EXPECT_NE(bytes.out.find("64000"), std::string::npos) << bytes.out;

    const RunResult piped = List("");
    ASSERT_EQ(piped.exitCode, 0) << piped.out;
    EXPECT_NE(piped.out.find(longPath), std::string::npos) << piped.out;
    EXPECT_NE(piped.out.find("\n64000  "), std::string::npos) << piped.out;
    EXPECT_EQ(piped.out.find('\033'), std::string::npos) << "no progress or colour in a pipe";
}

TEST_F(ListCommandTest, RowsSortByPathSizeOrDateAndNameTheirState) {
    const std::vector<std::string> byPath = RowPaths(List("").out);
    EXPECT_TRUE(std::is_sorted(byPath.begin(), byPath.end())) << List("").out;
    ASSERT_EQ(byPath.size(), 8u) << List("").out;  // 3 folders and 5 files

    const std::vector<std::string> bySize = RowPaths(List("--sort size --match '*.*'").out);
    const std::vector<std::string> sizeOrder = {
        "/DCIM/100CANON/IMG_0003.CR2", "/DCIM/" + kLongFolder + "/IMG_0005.JPG",
        "/DCIM/100CANON/IMG_0001.JPG", "/DCIM/100CANON/_MG_0004.PNG",
        "/DCIM/100CANON/_MG_0002.JPG"};
    EXPECT_EQ(bySize, sizeOrder);

    const std::vector<std::string> byDate = RowPaths(List("--sort date --match '*.*'").out);
    ASSERT_EQ(byDate.size(), 5u);
    EXPECT_EQ(byDate.front(), "/DCIM/" + kLongFolder + "/IMG_0005.JPG");  // newest first
    EXPECT_EQ(byDate.back(), "/DCIM/100CANON/IMG_0001.JPG");

    const std::string listing = List("").out;
    for (const std::string& line : Lines(listing)) {
        if (line.find("_MG_0002.JPG") != std::string::npos ||
            line.find("_MG_0004.PNG") != std::string::npos) {
            EXPECT_NE(line.find(" deleted "), std::string::npos) << line;
        }
        if (line.find("IMG_0001.JPG") != std::string::npos) {
            EXPECT_NE(line.find(" live "), std::string::npos) << line;
        }
    }
    EXPECT_EQ(List("--sort name").exitCode, 2);
}

TEST_F(ListCommandTest, MatchTakesSeveralPatternsAndPathPatternsAsRecoverDoes) {
    const struct {
        std::string patterns;
        std::vector<std::string> names;
    } cases[] = {
        {"--match '*.jpg' --match '*.cr2'",
         {"IMG_0001.JPG", "IMG_0003.CR2", "IMG_0005.JPG", "_MG_0002.JPG"}},
        {"--match 'DCIM/100CANON/*.jpg'", {"IMG_0001.JPG", "_MG_0002.JPG"}},
        {"--match '*.png'", {"_MG_0004.PNG"}},
    };
    int run = 0;
    for (const auto& c : cases) {
        std::vector<std::string> listed;
        for (const std::string& path : RowPaths(List(c.patterns).out))
            listed.push_back(fs::path(path).filename().string());
        std::sort(listed.begin(), listed.end());
        EXPECT_EQ(listed, c.names) << c.patterns;
        // What the listing previews is what a recovery with the same patterns writes.
        const fs::path out = dir_ / ("out" + std::to_string(run++));
        const RunResult recover = RunCli(
            "recover " + Quoted(card_.string()) + " " + Quoted(out.string()) + " " + c.patterns,
            dir_.path());
        ASSERT_EQ(recover.exitCode, 0) << recover.out;
        std::vector<std::string> written;
        for (const auto& entry : fs::recursive_directory_iterator(out)) {
            if (entry.is_regular_file()) {
                written.push_back(entry.path().filename().string());
                // FAT keeps a deleted name without its first letter.
                std::string source = entry.path().filename().string();
                source[0] = 'I';
                EXPECT_EQ(ReadFile(entry.path()), ReadFile(dir_ / source));
            }
        }
        std::sort(written.begin(), written.end());
        EXPECT_EQ(written, c.names) << recover.out;
    }
}

TEST_F(ListCommandTest, ClosingLineCountsWhatWasShown) {
    const struct {
        std::string options;
        std::string line;
    } cases[] = {
        {"", "5 files (201 kB) in 3 folders; card.img"},
        {"--deleted-only", "2 deleted files (17.0 kB) of 5 files in 3 folders; card.img"},
        {"--match '*.jpg'", "3 matching files (99.0 kB) of 5 files in 3 folders; card.img"},
    };
    for (const auto& c : cases) {
        const RunResult listed = List(c.options);
        ASSERT_EQ(listed.exitCode, 0) << listed.out;
        EXPECT_NE(listed.out.find(c.line), std::string::npos) << c.options << "\n" << listed.out;
    }
}

TEST_F(ListCommandTest, JsonFollowsItsSchemaAndCountsWhatItLists) {
    for (const std::string options :
         {"--json", "--json --deleted-only", "--json --match '*.cr2'"}) {
        const RunResult listed =
            RunCliStdout("list " + Quoted(card_.string()) + " " + options, dir_.path());
        ASSERT_EQ(listed.exitCode, 0) << listed.out;
        EXPECT_EQ(duzez::test::SchemaProblems(listed.out, "list"), "") << options;
        const auto document = nlohmann::json::parse(listed.out);
        std::size_t files = 0;
        std::size_t folders = 0;
        for (const auto& object : document["objects"])
            ++(object["folder"].get<bool>() ? folders : files);
        EXPECT_EQ(document["files"], files) << options;
        EXPECT_EQ(document["folders"], folders) << options;
        EXPECT_EQ(document["filesInVolume"], 5) << options;
        for (const auto& object : document["objects"]) {
            // FAT keeps the camera's local time: no offset, and it says so.
            EXPECT_EQ(object["timeZone"], "local");
            if (object["path"] == "/DCIM/100CANON/IMG_0003.CR2") {
                EXPECT_EQ(object["modified"], "2024-05-03T12:00:00");
                EXPECT_EQ(object["size"], 90000);
                EXPECT_EQ(object["start"], object["diskOffset"]) << "an unpartitioned card";
            }
        }
    }
}

// A partition 1 MiB into its disk: start counts from the volume, diskOffset from the disk.
TEST(ListJson, OffsetsSayWhatTheyCountFrom) {
    if (!HaveTool("mkfs.fat") || !HaveTool("mcopy") || !HaveTool("sfdisk"))
        GTEST_SKIP() << "dosfstools, mtools or fdisk missing";
    duzez::test::TempFolder dir;
    const fs::path disk = dir / "disk.img";
    ASSERT_TRUE(RunCommand("truncate -s 20M " + Quoted(disk.string()) +
                           " && printf 'label: dos\\nstart=2048, type=c\\n' | sfdisk -q " +
                           Quoted(disk.string())));
    ASSERT_TRUE(
        RunCommand("mkfs.fat --offset 2048 " + Quoted(disk.string()) + " 18000 >/dev/null"));
    WriteFile(dir / "A.JPG", duzez::test::Pattern(7000, 3));
    ASSERT_TRUE(RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -i " + Quoted(disk.string() + "@@1M") + " " +
                           Quoted((dir / "A.JPG").string()) + " ::/"));
    const RunResult listed =
        RunCliStdout("list " + Quoted(disk.string()) + " --volume 1 --json", dir.path());
    ASSERT_EQ(listed.exitCode, 0) << listed.out;
    EXPECT_EQ(duzez::test::SchemaProblems(listed.out, "list"), "");
    const auto document = nlohmann::json::parse(listed.out);
    ASSERT_EQ(document["objects"].size(), 1u) << listed.out;
    const auto& photo = document["objects"][0];
    const std::uint64_t start = photo["start"];
    EXPECT_EQ(photo["diskOffset"].get<std::uint64_t>(), start + 1048576);
    EXPECT_EQ(photo["pieces"][0]["diskOffset"], photo["diskOffset"]);
    // The bytes at diskOffset on the disk are the photo's.
    EXPECT_EQ(ReadFile(disk).substr(photo["diskOffset"].get<std::size_t>(), 7000),
              duzez::test::Pattern(7000, 3));
}

// NTFS keeps UTC: its times are shown in this machine's zone, with that zone's offset.
TEST(ListJson, NtfsTimesCarryTheMachinesOffset) {
    if (!HaveTool("mkntfs"))
        GTEST_SKIP() << "ntfs-3g missing";
    duzez::test::TempFolder dir;
    const fs::path volume = dir / "ntfs.img";
    ASSERT_TRUE(RunCommand("truncate -s 16M " + Quoted(volume.string()) + " && mkntfs -q -F -f " +
                           Quoted(volume.string()) + " >/dev/null"));
    const char* zone = std::getenv("TZ");
    const std::string saved = zone != nullptr ? zone : "";
    ::setenv("TZ", "Asia/Kolkata", 1);  // +05:30 all year: no summer time to guess
    const RunResult listed =
        RunCliStdout("list " + Quoted(volume.string()) + " --json --match '$MFT'", dir.path());
    if (zone != nullptr)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ASSERT_EQ(listed.exitCode, 0) << listed.out;
    EXPECT_EQ(duzez::test::SchemaProblems(listed.out, "list"), "");
    const auto document = nlohmann::json::parse(listed.out);
    ASSERT_EQ(document["objects"].size(), 1u) << listed.out;
    const auto& mft = document["objects"][0];
    EXPECT_EQ(mft["timeZone"], "utc");
    const std::string modified = mft["modified"];
    EXPECT_EQ(modified.substr(modified.size() - 6), "+05:30") << modified;
}

TEST(SignaturesJson, ExtensionsAreAnArrayAndTheDocumentFollowsItsSchema) {
    duzez::test::TempFolder dir;
    const RunResult listed = RunCliStdout("signatures list --json", dir.path());
    ASSERT_EQ(listed.exitCode, 0) << listed.out;
    EXPECT_EQ(duzez::test::SchemaProblems(listed.out, "signatures"), "");
    for (const auto& format : nlohmann::json::parse(listed.out)) {
        if (format["title"] == "MPEG-4 video") {
            const std::vector<std::string> mp4 = {"mp4", "m4v", "m4a", "mj2"};
            EXPECT_EQ(format["extensions"].get<std::vector<std::string>>(), mp4);
        }
    }
}

}  // namespace
