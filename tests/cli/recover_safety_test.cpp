// duzez-cli recover as a careful user and as an attacker would try it: crafted names, the
// source inside the destination, runs repeated, broken chains, system files, bad options,
// Ctrl-C (also during a listing or a search). Every promise here is one a person who runs
// it on their only copy relies on.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "tests/cli/run_cli.h"
#include "tests/support/temp_folder.h"

namespace duzez::test {
namespace {

std::string Sha256(const std::filesystem::path& file) {
    return CommandOutput("sha256sum " + Quoted(file.string()) + " | cut -d' ' -f1");
}

class RecoverSafetyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveTool("mkfs.fat") || !HaveTool("mcopy"))
            GTEST_SKIP() << "dosfstools or mtools missing";
    }
    // A FAT16 card with the given mtools steps ("mmd ::/A", "mcopy F ::/A/").
    std::filesystem::path Card(const std::vector<std::string>& steps) {
        const auto card = dir_ / "card.img";
        EXPECT_TRUE(RunCommand("mkfs.fat -C -F 16 -s 4 " + Quoted(card.string()) + " 20000"));
        for (const std::string& step : steps) {
            EXPECT_TRUE(RunCommand("cd " + Quoted(dir_.path().string()) +
                                   " && TZ=UTC MTOOLS_SKIP_CHECK=1 " + step + " -i " +
                                   Quoted(card.string())))
                << step;
        }
        return card;
    }
    // A large sparse FAT32 card holding KEEP.JPG: its scan is still running when a signal
    // comes.
    std::filesystem::path BigCardWithOnePhoto() {
        WriteFile(dir_ / "KEEP.JPG", Pattern(30000, 19));
        const auto card = dir_ / "big.img";
        EXPECT_TRUE(RunCommand("truncate -s 4G " + Quoted(card.string()) + " && mkfs.fat -F 32 " +
                               Quoted(card.string())));
        EXPECT_TRUE(RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -i " + Quoted(card.string()) + " " +
                               Quoted((dir_ / "KEEP.JPG").string()) + " ::/"));
        return card;
    }
    RunResult Cli(const std::string& arguments) { return RunCli(arguments, dir_.path()); }
    RunResult Recover(const std::filesystem::path& image, const std::filesystem::path& destination,
                      const std::string& options = "") {
        return Cli("recover " + Quoted(image.string()) + " " + Quoted(destination.string()) +
                   options);
    }

    TempFolder dir_;
};

// Rewrites the long name of the entry whose short name is `shortName` (11 bytes, as on
// disk) in the first `scan` bytes of the image; the new name must fit the entries there.
void RewriteLongName(const std::filesystem::path& image, const std::string& shortName,
                     const std::u16string& name, std::size_t scan = 1 << 20) {
    std::fstream disk(image, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes(scan, '\0');
    disk.read(bytes.data(), static_cast<std::streamsize>(scan));
    const std::size_t entry = bytes.find(shortName);
    ASSERT_NE(entry, std::string::npos);
    ASSERT_EQ(entry % 32, 0u);
    static constexpr int kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (std::size_t slot = entry - 32; bytes[slot + 11] == 0x0F; slot -= 32) {
        const int order = bytes[slot] & 0x1F;
        for (int i = 0; i < 13; ++i) {
            const std::size_t at =
                static_cast<std::size_t>(order - 1) * 13 + static_cast<std::size_t>(i);
            const char16_t c = at < name.size() ? name[at] : at == name.size() ? 0 : 0xFFFF;
            bytes[slot + kOffsets[i]] = static_cast<char>(c & 0xFF);
            bytes[slot + kOffsets[i] + 1] = static_cast<char>(c >> 8);
        }
        ASSERT_LE(name.size(), static_cast<std::size_t>(order) * 13 + 13);
        if ((bytes[slot] & 0x40) != 0)
            break;
    }
    disk.seekp(0);
    disk.write(bytes.data(), static_cast<std::streamsize>(scan));
}

TEST_F(RecoverSafetyTest, AFolderNamedToClimbOutStaysInsideTheDestination) {
    WriteFile(dir_ / "PHOTO.JPG", Pattern(30000, 7));
    const auto card =
        Card({"mmd ::/'Holiday Photos Folder'", "mcopy PHOTO.JPG ::/'Holiday Photos Folder'/"});
    const std::string escape = "DZ" + std::to_string(::getpid() % 1000000);
    RewriteLongName(card, "HOLIDA~1   ",
                    u"../../../../tmp/" + std::u16string(escape.begin(), escape.end()));
    std::filesystem::remove_all("/tmp/" + escape);
    const auto destination = dir_ / "a" / "b" / "out";

    const RunResult result = Recover(card, destination);
    EXPECT_EQ(result.exitCode, 0) << result.out;
    EXPECT_FALSE(std::filesystem::exists("/tmp/" + escape));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "tmp"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "a" / "tmp"));
    EXPECT_EQ(ReadFile(destination / (".._.._.._.._tmp_" + escape) / "PHOTO.JPG"),
              Pattern(30000, 7));
    std::filesystem::remove_all("/tmp/" + escape);
}

TEST_F(RecoverSafetyTest, TheSourceImageIsNeverTouched) {
    WriteFile(dir_ / "PHOTO.JPG", Pattern(30000, 7));
    const auto card = Card({"mcopy PHOTO.JPG ::/"});
    std::filesystem::rename(card, dir_ / "PHOTO.img");
    const auto image = dir_ / "PHOTO.img";
    const std::string before = Sha256(image);

    // Its own folder, and a folder above it, hold the image: refused before any scan.
    for (const auto& destination : {dir_.path(), dir_.path().parent_path()}) {
        const RunResult refused = Cli("-v recover " + Quoted(image.string()) + " " +
                                      Quoted(destination.string()) + " --deep");
        EXPECT_EQ(refused.exitCode, 2) << refused.out;
        EXPECT_NE(refused.out.find("holds the image"), std::string::npos) << refused.out;
        EXPECT_EQ(refused.out.find("Analy"), std::string::npos) << "no analysis ran";
    }
    // A destination holding a link to the image as the very name a file would take.
    std::filesystem::create_directories(dir_ / "out");
    std::filesystem::create_symlink(image, dir_ / "out" / "PHOTO.JPG");
    const RunResult beside = Recover(image, dir_ / "out");
    EXPECT_EQ(beside.exitCode, 0) << beside.out;
    EXPECT_EQ(ReadFile(dir_ / "out" / "PHOTO (2).JPG"), Pattern(30000, 7));
    EXPECT_EQ(Sha256(image), before);
}

// People run it again and again on the same card: nothing is written twice, nothing the
// user changed since is replaced, and the summary says so.
TEST_F(RecoverSafetyTest, ARunAgainSaysAlreadyRecoveredAndKeepsTheUsersEdits) {
    WriteFile(dir_ / "A.JPG", Pattern(20000, 3));
    WriteFile(dir_ / "B.JPG", Pattern(40000, 5));
    const auto card = Card({"mcopy A.JPG B.JPG ::/"});
    const auto out = dir_ / "out";
    ASSERT_EQ(Recover(card, out).exitCode, 0);
    WriteFile(out / "B.JPG", "edited by the user");

    const RunResult again = Recover(card, out, " --json");
    EXPECT_EQ(again.exitCode, 0) << again.out;
    EXPECT_NE(again.out.find("\"alreadyRecovered\": 1"), std::string::npos) << again.out;
    EXPECT_NE(again.out.find("\"recovered\": 1"), std::string::npos) << again.out;
    EXPECT_EQ(ReadFile(out / "B.JPG"), "edited by the user");
    EXPECT_EQ(ReadFile(out / "B (2).JPG"), Pattern(40000, 5));
    EXPECT_FALSE(std::filesystem::exists(out / "A (2).JPG"));
}

// Sets the entry of `cluster` to `next` in both FATs of a FAT16 image.
void SetFatEntry(const std::filesystem::path& image, unsigned cluster, std::uint16_t next) {
    std::fstream disk(image, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<unsigned char> boot(512);
    disk.read(reinterpret_cast<char*>(boot.data()), 512);
    const unsigned reserved = boot[14] | (boot[15] << 8);
    const unsigned perFat = boot[22] | (boot[23] << 8);
    const char bytes[2] = {static_cast<char>(next & 0xFF), static_cast<char>(next >> 8)};
    for (unsigned fat = 0; fat < boot[16]; ++fat) {
        disk.seekp(static_cast<std::streamoff>((reserved + fat * perFat) * 512 + cluster * 2));
        disk.write(bytes, 2);
    }
}

// A chain cut short, or looping back into itself, loses none of the bytes that follow it
// on the card; the file is reported incomplete, in a second run into the same folder too.
TEST_F(RecoverSafetyTest, AChainThatEndsEarlyOrLoopsKeepsItsBytesAndIsReportedIncomplete) {
    // 4-sector clusters: 20,000 bytes span 10 clusters (2 to 11), one after another.
    WriteFile(dir_ / "LONG.JPG", Pattern(20000, 11));
    const auto card = Card({"mcopy LONG.JPG ::/"});
    for (const auto& [name, next] : {std::pair<std::string, std::uint16_t>{"cut", 0xFFFF},
                                     std::pair<std::string, std::uint16_t>{"loop", 2}}) {
        SCOPED_TRACE(name);
        const auto image = dir_ / (name + ".img");
        std::filesystem::copy_file(card, image);
        SetFatEntry(image, 3, next);
        const RunResult result = Recover(image, dir_ / name);
        EXPECT_EQ(result.exitCode, 1) << result.out;
        EXPECT_NE(result.out.find("1 incomplete"), std::string::npos) << result.out;
        EXPECT_TRUE(ReadFile(dir_ / name / "LONG.JPG") == Pattern(20000, 11));
        const RunResult again = Recover(image, dir_ / name);
        EXPECT_EQ(again.exitCode, 1) << again.out;
        EXPECT_NE(again.out.find("1 incomplete"), std::string::npos) << again.out;
        EXPECT_FALSE(std::filesystem::exists(dir_ / name / "LONG (2).JPG"));
    }
}

TEST_F(RecoverSafetyTest, RecoveredFilesCarryTheirDatesAndEmptyFilesAreFiles) {
    WriteFile(dir_ / "DATED.JPG", Pattern(5000, 13));
    WriteFile(dir_ / "EMPTY.TXT", "");
    ASSERT_TRUE(RunCommand("TZ=UTC touch -d '2021-07-04 12:34:56' " +
                           Quoted((dir_ / "DATED.JPG").string()) + " " +
                           Quoted((dir_ / "EMPTY.TXT").string())));
    const auto card = Card({"mmd ::/DOCS", "mcopy -m DATED.JPG EMPTY.TXT ::/DOCS/"});
    const RunResult result = Recover(card, dir_ / "out");
    EXPECT_EQ(result.exitCode, 0) << result.out;
    EXPECT_NE(result.out.find("Recovered 2 (0 deleted, 2 live)"), std::string::npos) << result.out;
    struct stat info {};
    ASSERT_EQ(::stat((dir_ / "out" / "DOCS" / "DATED.JPG").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, 1625402096) << "2021-07-04 12:34:56 as the card holds it";
    ASSERT_TRUE(std::filesystem::is_regular_file(dir_ / "out" / "DOCS" / "EMPTY.TXT"));
    EXPECT_EQ(std::filesystem::file_size(dir_ / "out" / "DOCS" / "EMPTY.TXT"), 0u);
}

// A deleted photo whose clusters a new one took would come back as the new one's half:
// it is shown as overwritten and written only when asked for.
TEST_F(RecoverSafetyTest, OverwrittenFilesAreShownAndLeftOutUnlessAskedFor) {
    WriteFile(dir_ / "OLD.JPG", Pattern(30000, 3));
    WriteFile(dir_ / "NEW.JPG", Pattern(20000, 5));
    const auto card =
        Card({"mmd ::/A", "mcopy OLD.JPG ::/A/", "mdel ::/A/OLD.JPG", "mcopy NEW.JPG ::/"});
    const RunResult list = Cli("list " + Quoted(card.string()));
    EXPECT_NE(list.out.find(" overwritten "), std::string::npos) << list.out;
    EXPECT_NE(Cli("list " + Quoted(card.string()) + " --json").out.find("\"overwritten\": true"),
              std::string::npos);
    const RunResult plain = Recover(card, dir_ / "out");
    EXPECT_EQ(plain.exitCode, 0) << plain.out;
    EXPECT_NE(plain.out.find("1 overwritten left out"), std::string::npos) << plain.out;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out" / "A" / "_LD.JPG"));
    EXPECT_EQ(ReadFile(dir_ / "out" / "NEW.JPG"), Pattern(20000, 5));
    const RunResult asked = Recover(card, dir_ / "out", " --include-overwritten");
    EXPECT_TRUE(std::filesystem::exists(dir_ / "out" / "A" / "_LD.JPG")) << asked.out;
}

// An MBR disk of four FAT16 partitions, partition n holding PARTn.JPG.
TEST_F(RecoverSafetyTest, BadDestinationsAndOptionsAreRefusedUpFront) {
    const auto card = Card({});
    const std::string target = "recover " + Quoted(card.string()) + " ";
    WriteFile(dir_ / "plain", "x");
    for (const std::string& destination :
         {Quoted(""), Quoted((dir_ / "plain").string()), Quoted("/proc/duzez")}) {
        const RunResult result = Cli(target + destination);
        EXPECT_EQ(result.exitCode, 2) << destination << ": " << result.out;
        EXPECT_NE(result.out.find("error: "), std::string::npos) << result.out;
        EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 1) << result.out;
    }
    for (const char* method : {"custom:-5", "custom:0", "custom:", "custom:12x"}) {
        const RunResult result =
            Cli(target + Quoted((dir_ / "out").string()) + " --size-method " + method);
        EXPECT_EQ(result.exitCode, 2) << method << ": " << result.out;
    }
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out")) << "nothing is created for bad options";
}

// A mounted NTFS volume filled through ntfs-3g, as a Windows disk would be.
class NtfsRecoverTest : public RecoverSafetyTest {
  protected:
    void SetUp() override {
        if (!HaveTool("mkntfs") || !HaveTool("ntfs-3g"))
            GTEST_SKIP() << "ntfs-3g missing";
    }
};

TEST_F(NtfsRecoverTest, SystemFilesStayOutUnlessAskedForAndEmptyFilesCount) {
    const auto image = dir_ / "ntfs.img";
    const auto mount = dir_ / "mnt";
    std::filesystem::create_directories(mount);
    ASSERT_TRUE(RunCommand("truncate -s 16M " + Quoted(image.string()) + " && mkntfs -q -F -f " +
                           Quoted(image.string())));
    if (!RunCommand("ntfs-3g " + Quoted(image.string()) + " " + Quoted(mount.string())))
        GTEST_SKIP() << "FUSE is not available here";
    WriteFile(mount / "notes.txt", "");
    WriteFile(mount / "photo.jpg", Pattern(70000, 17));
    ASSERT_TRUE(RunCommand("umount " + Quoted(mount.string())));

    const RunResult users = Recover(image, dir_ / "out");
    EXPECT_EQ(users.exitCode, 0) << users.out;
    EXPECT_NE(users.out.find("file-system files left out"), std::string::npos) << users.out;
    EXPECT_EQ(ReadFile(dir_ / "out" / "photo.jpg"), Pattern(70000, 17));
    ASSERT_TRUE(std::filesystem::is_regular_file(dir_ / "out" / "notes.txt"));
    EXPECT_EQ(std::filesystem::file_size(dir_ / "out" / "notes.txt"), 0u);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out" / "$MFT"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out" / "$Extend"));

    const RunResult all = Recover(image, dir_ / "all", " --include-system");
    EXPECT_EQ(all.exitCode, 0) << all.out;
    EXPECT_GT(std::filesystem::file_size(dir_ / "all" / "$MFT"), 0u);
    // $Secure keeps its descriptors in a named stream; its unnamed data is empty.
    EXPECT_EQ(std::filesystem::file_size(dir_ / "all" / "$Secure"), 0u);
}

// Ctrl-C during a long scan keeps what the file system phase already found.
TEST_F(RecoverSafetyTest, CtrlCDuringTheScanStillRecoversWhatWasFound) {
    const auto card = BigCardWithOnePhoto();
    const auto out = dir_ / "out";
    const auto log = dir_ / "run.log";
    // The signal goes once the log says the sector phase has begun.
    const auto run =
        duzez::test::RunCliInterrupted({"-v", "recover", card.string(), out.string(), "--deep"},
                                       dir_.path(), log, "Starting drive sector analysis");
    ASSERT_TRUE(run.signalled) << run.out;
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("The analysis was stopped"), std::string::npos) << run.out;
    EXPECT_EQ(ReadFile(out / "KEEP.JPG"), Pattern(30000, 19));
}

// A listing and a search for lost volumes stop at the first Ctrl-C too, show what they had
// found and say, in words and in the exit code, that it is not all there is.
TEST_F(RecoverSafetyTest, CtrlCCutsAListingOrASearchShortAndSaysSo) {
    const std::string card = BigCardWithOnePhoto().string();
    const struct {
        std::vector<std::string> arguments;
        const char* shows;
        const char* says;
    } runs[] = {
        {{"-v", "list", card, "--deep"}, "KEEP.JPG", "The analysis was stopped by Ctrl-C"},
        {{"-v", "list", card, "--deep", "--json"},
         "\"interrupted\": true",
         "The analysis was stopped by Ctrl-C"},
        {{"-v", "find-lost", card}, "Disk offset", "The search was stopped by Ctrl-C"},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.arguments[1] + (run.arguments.size() > 4 ? " --json" : ""));
        const auto result = duzez::test::RunCliInterrupted(
            run.arguments, dir_.path(), dir_ / "run.log", "Starting drive sector analysis");
        ASSERT_TRUE(result.signalled) << result.out;
        EXPECT_EQ(result.exitCode, 1) << result.out;
        EXPECT_NE(result.out.find(run.shows), std::string::npos) << result.out;
        EXPECT_NE(result.out.find(run.says), std::string::npos) << result.out;
    }
}

}  // namespace
}  // namespace duzez::test
