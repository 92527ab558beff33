// duzez-cli on input it cannot use: empty and unreadable targets, names that are not
// UTF-8 or carry control characters, a working folder that is gone. Each ends with one
// clear line and a known exit status, never with an abort or a silent empty answer.

#include <gtest/gtest.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "cli/terminal_text.h"
#include "tests/cli/run_cli.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using duzez::test::HaveFatTools;
using duzez::test::Quoted;
using duzez::test::RunCli;
using duzez::test::RunCommand;
using duzez::test::RunResult;

constexpr const char* kNoRights =
    "permission denied; reading drives needs root or membership of the disk group";

// A FAT16 card image of 10 MB.
void MakeCard(const fs::path& card) {
    ASSERT_TRUE(RunCommand("mkfs.fat -C -F 16 " + Quoted(card.string()) + " 20000"));
}

// What runs a command as a user without any rights to disks (nobody, no groups): setpriv
// for root, nothing for anyone else; null when root cannot change user here. That user
// is given the way into the test's folder.
std::optional<std::string> WithoutRights(const duzez::test::TempFolder& dir) {
    if (::geteuid() != 0)
        return "";
    const std::string prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    if (!duzez::test::HaveTool("setpriv") || !RunCommand(prefix + "true"))
        return std::nullopt;
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
    return prefix;
}

// duzez-cli run that way, with a settings folder below `dir` that the user may write.
std::optional<RunResult> RunWithoutRights(const std::string& arguments,
                                          const duzez::test::TempFolder& dir) {
    const auto prefix = WithoutRights(dir);
    if (!prefix)
        return std::nullopt;
    const fs::path config = dir / "nobody-config";
    fs::create_directories(config);
    fs::permissions(config, fs::perms::all);
    const std::string output = duzez::test::CommandOutput(
        *prefix + "env XDG_CONFIG_HOME=" + Quoted(config.string()) +
        " XDG_STATE_HOME=" + Quoted(config.string()) + " " + Quoted(DUZEZ_CLI_PATH) + " " +
        arguments + " 2>&1; echo \"exit=$?\"");
    RunResult result;
    const std::size_t mark = output.rfind("exit=");
    if (mark == std::string::npos)
        return result;
    result.exitCode = std::stoi(output.substr(mark + 5));
    result.out = output.substr(0, mark);
    return result;
}

// Moves into a folder for the scope, and back out at its end.
class WorkingFolder {
  public:
    explicit WorkingFolder(const fs::path& folder) : previous_(fs::current_path()) {
        fs::current_path(folder);
    }
    ~WorkingFolder() { fs::current_path(previous_); }
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

  private:
    fs::path previous_;
};

// Whatever a command meets, it ends with one "error:" line and exit status 2.
TEST(CommandFailure, ARelativeTargetAfterTheWorkingFolderWasDeletedIsOneErrorLine) {
    duzez::test::TempFolder dir;
    const fs::path gone = dir / "gone";
    fs::create_directories(gone);
    RunResult result;
    {
        WorkingFolder inside(gone);
        fs::remove(gone);
        result = RunCli("list card.img", dir.path());
    }
    EXPECT_EQ(result.exitCode, 2) << result.out;
    EXPECT_EQ(result.out.rfind("error: ", 0), 0u) << result.out;
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 1) << result.out;
}

// Names that are not UTF-8 (here an image file's own name) reach the JSON as U+FFFD.
TEST(JsonOutput, NamesThatAreNotUtf8AreReplacedInsteadOfAborting) {
    if (!HaveFatTools())
        GTEST_SKIP() << "dosfstools or mtools missing";
    duzez::test::TempFolder dir;
    const fs::path card = dir / "card\xff.img";
    ASSERT_NO_FATAL_FAILURE(MakeCard(card));
    const std::string replaced = "card\xEF\xBF\xBD.img";

    const RunResult list = RunCli("list " + Quoted(card.string()) + " --json", dir.path());
    ASSERT_EQ(list.exitCode, 0) << list.out;
    const auto listed = nlohmann::json::parse(list.out);  // throws on invalid UTF-8
    EXPECT_EQ(listed["volume"], replaced);
    EXPECT_EQ(listed["fileSystem"], "FAT16");

    const RunResult info = RunCli("info " + Quoted(card.string()) + " --json", dir.path());
    ASSERT_EQ(info.exitCode, 0) << info.out;
    const auto described = nlohmann::json::parse(info.out);
    EXPECT_EQ(described["name"], replaced);
    EXPECT_EQ(described["devicePath"], (dir.path() / replaced).string());
}

// A file too short to hold one sector is unreadable, not an empty volume.
TEST(UnreadableTarget, FilesShorterThanOneSectorAreRefusedByEveryCommand) {
    duzez::test::TempFolder dir;
    duzez::test::WriteFile(dir / "empty.img", "");
    duzez::test::WriteFile(dir / "one.img", "x");
    for (const char* name : {"empty.img", "one.img"}) {
        const std::string image = (dir / name).string();
        const std::string expected = "error: cannot read the first sector of " + image + "\n";
        for (const std::string& command :
             {"list " + Quoted(image), "list " + Quoted(image) + " --deep",
              "recover " + Quoted(image) + " " + Quoted((dir / "out").string()),
              "partitions " + Quoted(image), "find-lost " + Quoted(image)}) {
            const RunResult result = RunCli(command, dir.path());
            EXPECT_EQ(result.exitCode, 2) << command << "\n" << result.out;
            EXPECT_EQ(result.out, expected) << command;
        }
    }
}

// Without --deep only the file-system phase runs: on a volume with neither a file system
// it can list nor a partition table, its empty answer would mean nothing.
TEST(UnreadableTarget, NoFileSystemAndNoPartitionTableAsksForDeep) {
    if (!HaveFatTools() || !duzez::test::HaveTool("sfdisk"))
        GTEST_SKIP() << "dosfstools, mtools or fdisk missing";
    duzez::test::TempFolder dir;
    const fs::path zeros = dir / "zeros.img";
    duzez::test::MakeSparseFile(zeros, 1 << 20);
    const RunResult plain = RunCli("list " + Quoted(zeros.string()), dir.path());
    EXPECT_EQ(plain.exitCode, 2) << plain.out;
    EXPECT_EQ(plain.out, "error: no partition table or file system found on " + zeros.string() +
                             "; try --deep\n");
    const RunResult recover = RunCli(
        "recover " + Quoted(zeros.string()) + " " + Quoted((dir / "out").string()), dir.path());
    EXPECT_EQ(recover.exitCode, 2) << recover.out;
    EXPECT_NE(recover.out.find("try --deep"), std::string::npos) << recover.out;

    // The sector scan needs neither.
    const RunResult deep = RunCli("list " + Quoted(zeros.string()) + " --deep", dir.path());
    EXPECT_EQ(deep.exitCode, 0) << deep.out;
    EXPECT_EQ(deep.out.find("error"), std::string::npos) << deep.out;

    // A disk with a partition table but no file system of its own is listed as before,
    // and its FAT partition with --volume.
    const fs::path disk = dir / "disk.img";
    ASSERT_TRUE(RunCommand("truncate -s 16M " + Quoted(disk.string()) +
                           " && printf 'label: dos\\nstart=2048, size=20480, type=e\\n' | "
                           "sfdisk -q " +
                           Quoted(disk.string())));
    ASSERT_TRUE(RunCommand("mkfs.fat -F 16 --offset 2048 " + Quoted(disk.string()) + " 10240"));
    const RunResult whole = RunCli("list " + Quoted(disk.string()), dir.path());
    EXPECT_EQ(whole.exitCode, 0) << whole.out;
    const RunResult partition = RunCli("list " + Quoted(disk.string()) + " --volume 1", dir.path());
    EXPECT_EQ(partition.exitCode, 0) << partition.out;
    EXPECT_NE(partition.out.find("(FAT16)"), std::string::npos) << partition.out;
}

// A file this user may not read: the reason, not an empty disk.
TEST(Permission, AnImageFileTheUserMayNotReadSaysWhy) {
    if (!HaveFatTools())
        GTEST_SKIP() << "dosfstools or mtools missing";
    duzez::test::TempFolder dir;
    const fs::path card = dir / "locked.img";
    ASSERT_NO_FATAL_FAILURE(MakeCard(card));
    fs::permissions(card, fs::perms::none);
    for (const std::string command : {"list", "partitions", "find-lost", "info"}) {
        const auto result = RunWithoutRights(command + " " + Quoted(card.string()), dir);
        if (!result)
            GTEST_SKIP() << "cannot run a command as a user without rights here";
        EXPECT_EQ(result->exitCode, 2) << command << "\n" << result->out;
        EXPECT_EQ(result->out, "error: cannot read " + card.string() + ": " + kNoRights + "\n")
            << command;
    }
}

// A disk of this machine the user may not read, by its path and by its number.
TEST(Permission, ADriveTheUserMayNotReadSaysWhy) {
    duzez::test::TempFolder dir;
    std::string device;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/sys/block", ec)) {
        const std::string name = entry.path().filename().string();
        std::ifstream sizeFile(entry.path() / "size");
        std::uint64_t sectors = 0;
        const fs::path node = fs::path("/dev") / name;
        // Loop devices come and go with other tests running beside this one.
        if (name.rfind("loop", 0) == 0 || !(sizeFile >> sectors) || sectors == 0 ||
            !fs::is_block_file(node, ec)) {
            continue;
        }
        const auto prefix = WithoutRights(dir);
        if (!prefix)
            GTEST_SKIP() << "cannot run a command as a user without rights here";
        if (!RunCommand(*prefix + "test -r " + Quoted(node.string()))) {
            device = node.string();
            break;
        }
    }
    if (device.empty())
        GTEST_SKIP() << "no disk here that an unprivileged user cannot read";

    const std::string expected = "error: cannot read " + device + ": " + kNoRights + "\n";
    for (const std::string command : {"list", "partitions", "find-lost"}) {
        const auto result = RunWithoutRights(command + " " + Quoted(device), dir);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->exitCode, 2) << command << "\n" << result->out;
        EXPECT_EQ(result->out, expected) << command;
    }
    // The same disk by its number in the drive list.
    const auto drives = RunWithoutRights("drives --json", dir);
    ASSERT_TRUE(drives);
    ASSERT_EQ(drives->exitCode, 0) << drives->out;
    for (const auto& drive : nlohmann::json::parse(drives->out)) {
        if (drive["devicePath"] != device)
            continue;
        const std::string number = "#" + std::to_string(drive["number"].get<int>());
        const auto result = RunWithoutRights("partitions " + Quoted(number), dir);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->exitCode, 2) << result->out;
        EXPECT_EQ(result->out, expected);
    }
}

// A crafted file name cannot drive the terminal the listing is printed on.
TEST(TerminalListing, ControlCharactersInNamesAreShownEscaped) {
    if (!HaveFatTools())
        GTEST_SKIP() << "dosfstools or mtools missing";
    duzez::test::TempFolder dir;
    const fs::path card = dir / "card.img";
    ASSERT_NO_FATAL_FAILURE(MakeCard(card));
    duzez::test::WriteFile(dir / "Axb long.txt", "plain text");
    ASSERT_TRUE(RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -i " + Quoted(card.string()) + " " +
                           Quoted((dir / "Axb long.txt").string()) + " ::/"));
    // In the long-name entry (UTF-16), 'x' becomes ESC and 'b' DEL.
    std::string bytes = duzez::test::ReadFile(card);
    const std::string units("A\0x\0b\0 \0l\0", 10);
    const std::size_t at = bytes.find(units);
    ASSERT_NE(at, std::string::npos);
    bytes[at + 2] = '\x1b';
    bytes[at + 4] = '\x7f';
    duzez::test::WriteFile(card, bytes);

    const RunResult list = RunCli("list " + Quoted(card.string()), dir.path());
    ASSERT_EQ(list.exitCode, 0) << list.out;
    EXPECT_NE(list.out.find("/A\\x1b\\x7f long.txt\n"), std::string::npos) << list.out;
    EXPECT_EQ(list.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(list.out.find('\x7f'), std::string::npos);

    // JSON carries the name itself, escaped as JSON escapes.
    const RunResult json = RunCli("list " + Quoted(card.string()) + " --json", dir.path());
    ASSERT_EQ(json.exitCode, 0) << json.out;
    EXPECT_NE(json.out.find("A\\u001b"), std::string::npos) << json.out;
    const auto document = nlohmann::json::parse(json.out);
    ASSERT_EQ(document["objects"].size(), 1u);
    EXPECT_EQ(document["objects"][0]["path"], "/A\x1b\x7f long.txt");
}

TEST(TerminalListing, OnlyControlCharactersAreEscaped) {
    using duzez::cli::TerminalText;
    EXPECT_EQ(TerminalText("\x1b]0;owned\x07"), "\\x1b]0;owned\\x07");
    EXPECT_EQ(TerminalText(std::string("a\0b\nc\x1f", 6)), "a\\x00b\\x0ac\\x1f");
    EXPECT_EQ(TerminalText(" ~\x7f"), " ~\\x7f");
    // C1 controls as UTF-8; the characters around them, and a cut-off sequence, stay.
    EXPECT_EQ(TerminalText("\xc2\x9b"
                           "2J\xc2\x80\xc2\x9f"),
              "\\u009b2J\\u0080\\u009f");
    EXPECT_EQ(TerminalText("\xc2\xa0\xc3\xa9 Ärger \\ \xc2"), "\xc2\xa0\xc3\xa9 Ärger \\ \xc2");
}

// A command on an image file lists no drives and opens no device.
TEST(ImageTarget, OpensNoDeviceOfTheMachine) {
    if (!HaveFatTools())
        GTEST_SKIP() << "dosfstools or mtools missing";
    duzez::test::TempFolder dir;
    const fs::path card = dir / "card.img";
    ASSERT_NO_FATAL_FAILURE(MakeCard(card));
    const std::string image = Quoted(card.string());
    // -v before the verb or after it.
    for (const std::string& command : {"-v list " + image, "list " + image + " -v",
                                       "-v partitions " + image, "-v info " + image}) {
        const RunResult result = RunCli(command, dir.path());
        EXPECT_EQ(result.exitCode, 0) << command << "\n" << result.out;
        // The log reaches the output, so a device opened would show.
        if (command.find("list") != std::string::npos) {
            EXPECT_NE(result.out.find("Beginning file system analysis"), std::string::npos)
                << command << "\n"
                << result.out;
        }
        EXPECT_EQ(result.out.find("Can't open volume"), std::string::npos) << result.out;
        EXPECT_EQ(result.out.find("/dev/"), std::string::npos) << command << "\n" << result.out;
    }
}

}  // namespace
