// What info, drives, partitions, find-lost, settings show and image tell a person at a
// terminal and a script reading their JSON: words instead of field names, the free space
// the file system really has, where every offset counts from, whether a drive can be read,
// and documents that follow the schemas kept in the repository.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/human_units.h"
#include "tests/cli/run_cli.h"
#include "tests/support/temp_folder.h"

namespace duzez::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* kMtools = "MTOOLS_SKIP_CHECK=1 ";

bool HaveFatTools() {
    return HaveTool("mkfs.fat") && HaveTool("mcopy") && HaveTool("fsck.fat");
}

// The document a command printed on stdout; null, with a failure, when it is no JSON.
json Document(const RunResult& result) {
    const json document = json::parse(result.out, nullptr, false);
    if (document.is_discarded())
        ADD_FAILURE() << "not JSON (exit " << result.exitCode << "):\n" << result.out;
    return document.is_discarded() ? json() : document;
}

// The value of the line "Label:   value" of `out`; nothing when there is no such line.
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

// How info writes a size of 1000 bytes or more.
std::string SizeText(std::uint64_t bytes) {
    return cli::HumanSize(bytes) + " (" + cli::GroupedDigits(bytes) + " bytes)";
}

std::uint64_t LittleEndian(const std::string& bytes, std::size_t at, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = size; i-- > 0;)
        value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
    return value;
}

// A FAT card of `kib` KiB made by mkfs.fat with `options`, holding a folder and `files`
// (name, size) of patterned bytes.
fs::path MakeFatCard(const TempFolder& dir, const std::string& name, const std::string& options,
                     int kib, const std::vector<std::pair<std::string, std::size_t>>& files) {
    const fs::path card = dir / name;
    EXPECT_TRUE(RunCommand("mkfs.fat -C " + options + " " + Quoted(card.string()) + " " +
                           std::to_string(kib)));
    EXPECT_TRUE(RunCommand(kMtools + std::string("mmd -i ") + Quoted(card.string()) + " ::/DCIM"));
    unsigned seed = 1;
    for (const auto& [file, size] : files) {
        WriteFile(dir / file, Pattern(size, seed++));
        EXPECT_TRUE(RunCommand(kMtools + std::string("mcopy -i ") + Quoted(card.string()) + " " +
                               Quoted((dir / file).string()) + " ::/DCIM/"));
    }
    return card;
}

// The free bytes fsck.fat counts: its "used/total clusters" in the card's cluster size.
std::optional<std::uint64_t> FsckFreeBytes(const fs::path& card) {
    const std::string out = CommandOutput("fsck.fat -n -v " + Quoted(card.string()) + " 2>&1");
    std::smatch match;
    if (!std::regex_search(out, match, std::regex(R"((\d+)/(\d+) clusters)")))
        return std::nullopt;
    const std::string boot = ReadFile(card).substr(0, 512);
    const std::uint64_t cluster = LittleEndian(boot, 11, 2) * LittleEndian(boot, 13, 1);
    return (std::stoull(match[2]) - std::stoull(match[1])) * cluster;
}

// The loop device `file` is attached to, detached at the end of the scope; empty where
// none can be attached.
class Loop {
  public:
    explicit Loop(const fs::path& file) {
        if (file.empty() || ::geteuid() != 0 || !HaveTool("losetup"))
            return;
        device_ = CommandOutput("losetup -f --show " + Quoted(file.string()) + " 2>/dev/null");
        while (!device_.empty() && device_.back() == '\n')
            device_.pop_back();
        if (device_.rfind("/dev/loop", 0) != 0)
            device_.clear();
    }
    ~Loop() {
        if (!device_.empty())
            RunCommand("losetup -d " + Quoted(device_));
    }
    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;
    const std::string& Device() const { return device_; }

  private:
    std::string device_;
};

// duzez-cli as a user without rights to any disk (nobody, no groups), with stdout alone;
// nothing where root cannot become that user here.
std::optional<RunResult> RunAsNobody(const std::string& arguments, const TempFolder& dir) {
    const std::string prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    if (::geteuid() != 0 || !HaveTool("setpriv") || !RunCommand(prefix + "true"))
        return std::nullopt;
    fs::permissions(dir.path(),
                    fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    const fs::path config = dir / "nobody-config";
    fs::create_directories(config);
    fs::permissions(config, fs::perms::all);
    const std::string out =
        CommandOutput(prefix + "env XDG_CONFIG_HOME=" + Quoted(config.string()) +
                      " XDG_STATE_HOME=" + Quoted(config.string()) + " " + Quoted(DUZEZ_CLI_PATH) +
                      " " + arguments + " 2>/dev/null; echo \"exit=$?\"");
    const std::size_t mark = out.rfind("exit=");
    if (mark == std::string::npos)
        return RunResult{};
    return RunResult{std::stoi(out.substr(mark + 5)), out.substr(0, mark)};
}

// The entry of `drives` for `device`; null when it is not listed.
json DriveEntry(const json& drives, const std::string& device) {
    for (const json& drive : drives) {
        if (drive.value("devicePath", "") == device)
            return drive;
    }
    return json();
}

// ---------------------------------------------------------------------------------------
// info

// The free space of a FAT card is what its FAT says, whatever the variant: the same count
// fsck.fat makes, in words and in the JSON.
TEST(InfoCommand, FatFreeSpaceIsWhatTheFatSays) {
    if (!HaveFatTools())
        GTEST_SKIP() << "dosfstools or mtools missing";
    struct Card {
        const char* name;
        const char* options;
        int kib;
        std::vector<std::pair<std::string, std::size_t>> files;
    };
    const Card cards[] = {
        {"fat12.img", "-F 12", 2000, {{"IMG_0001.JPG", 70000}, {"IMG_0002.JPG", 300000}}},
        {"fat16.img", "-F 16 -s 4", 20000, {{"IMG_0001.JPG", 1500000}, {"NOTE.TXT", 10}}},
        {"fat32.img",
         "-F 32",
         300000,
         {{"IMG_0001.JPG", 5000000}, {"IMG_0002.JPG", 4096}, {"IMG_0003.JPG", 4097}}},
    };
    for (const Card& card : cards) {
        SCOPED_TRACE(card.name);
        TempFolder dir;
        const fs::path image = MakeFatCard(dir, card.name, card.options, card.kib, card.files);
        const auto expected = FsckFreeBytes(image);
        ASSERT_TRUE(expected) << "fsck.fat gave no cluster count";
        ASSERT_GT(*expected, 0u);

        const RunResult machine =
            RunCliStdout("info " + Quoted(image.string()) + " --json", dir.path());
        ASSERT_EQ(machine.exitCode, 0) << machine.out;
        EXPECT_EQ(SchemaProblems(machine.out, "info"), "");
        EXPECT_EQ(Document(machine)["freeBytes"], *expected);

        const RunResult text = RunCli("info " + Quoted(image.string()), dir.path());
        EXPECT_EQ(Row(text.out, "Free space"), SizeText(*expected)) << text.out;
    }
}

// FSInfo's free count is a hint any system may leave stale: a wrong one changes nothing.
TEST(InfoCommand, AStaleFsInfoCountIsNotBelieved) {
    if (!HaveFatTools())
        GTEST_SKIP() << "dosfstools or mtools missing";
    TempFolder dir;
    const fs::path card = MakeFatCard(dir, "card.img", "-F 32", 300000, {{"A.JPG", 900000}});
    const auto expected = FsckFreeBytes(card);
    ASSERT_TRUE(expected);
    std::string bytes = ReadFile(card);
    const std::size_t fsInfo = 512 * LittleEndian(bytes, 48, 2);
    ASSERT_EQ(bytes.substr(fsInfo + 484, 4), "rrAa") << "no FSInfo sector where the boot says";
    for (const std::string& stale :
         {std::string("\x07\0\0\0", 4), std::string("\xff\xff\xff\x0f")}) {
        bytes.replace(fsInfo + 488, 4, stale);
        WriteFile(card, bytes);
        const RunResult info =
            RunCliStdout("info " + Quoted(card.string()) + " --json", dir.path());
        EXPECT_EQ(Document(info)["freeBytes"], *expected);
    }
}

// exFAT's free space is its allocation bitmap's clear bits, as dump.exfat counts them,
// after clusters were marked in use behind mkfs.exfat's back.
TEST(InfoCommand, ExfatFreeSpaceIsWhatItsBitmapSays) {
    if (!HaveTool("mkfs.exfat") || !HaveTool("dump.exfat"))
        GTEST_SKIP() << "exfatprogs missing";
    TempFolder dir;
    const fs::path card = dir / "card.img";
    ASSERT_TRUE(RunCommand("truncate -s 40M " + Quoted(card.string()) + " && mkfs.exfat " +
                           Quoted(card.string()) + " >/dev/null"));
    const auto field = [&card](const std::string& name) {
        const std::string out = CommandOutput("dump.exfat " + Quoted(card.string()) + " 2>&1");
        std::smatch match;
        EXPECT_TRUE(std::regex_search(out, match, std::regex(name + R"(:\s*(\d+))"))) << out;
        return match.empty() ? 0ull : std::stoull(match[1]);
    };
    std::string bytes = ReadFile(card);
    const std::uint64_t clusterBytes = 1ull << (bytes[108] + bytes[109]);
    const std::uint64_t bitmap = (LittleEndian(bytes, 88, 4) << bytes[108]) +
                                 (field("Bitmap start cluster") - 2) * clusterBytes;
    // Ten whole bytes and one odd bit: 81 clusters more in use.
    bytes.replace(bitmap + 100, 10, std::string(10, '\xff'));
    bytes[bitmap + 120] = static_cast<char>(bytes[bitmap + 120] | 0x10);
    WriteFile(card, bytes);
    const std::uint64_t expected = field("Free Clusters") * clusterBytes;
    ASSERT_GT(expected, 0u);

    const RunResult machine = RunCliStdout("info " + Quoted(card.string()) + " --json", dir.path());
    EXPECT_EQ(SchemaProblems(machine.out, "info"), "");
    const auto document = Document(machine);
    EXPECT_EQ(document["freeBytes"], expected);
    EXPECT_EQ(document["fileSystem"], "exFAT");
    char serial[16];
    std::snprintf(serial, sizeof serial, "0x%08llx",
                  static_cast<unsigned long long>(LittleEndian(bytes, 100, 4)));
    EXPECT_EQ(document["serialNumber"], serial);
}

// NTFS's free space is its $Bitmap's clear bits, as ntfscluster counts them; its serial
// number has 16 digits.
TEST(InfoCommand, NtfsFreeSpaceIsWhatItsBitmapSays) {
    if (!HaveTool("mkntfs") || !HaveTool("ntfscp") || !HaveTool("ntfscluster"))
        GTEST_SKIP() << "ntfs-3g tools missing";
    TempFolder dir;
    const fs::path volume = dir / "ntfs.img";
    WriteFile(dir / "photo.jpg", Pattern(700000, 3));
    ASSERT_TRUE(RunCommand("truncate -s 20M " + Quoted(volume.string()) + " && mkntfs -q -F -f " +
                           Quoted(volume.string()) + " && ntfscp " + Quoted(volume.string()) + " " +
                           Quoted((dir / "photo.jpg").string()) + " photo.jpg"));
    const std::string out =
        CommandOutput("ntfscluster -i " + Quoted(volume.string()) + " 2>/dev/null");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(out, match, std::regex(R"(bytes of free space\s*:\s*(\d+))")))
        << out;
    const std::uint64_t expected = std::stoull(match[1]);

    const RunResult machine =
        RunCliStdout("info " + Quoted(volume.string()) + " --json", dir.path());
    EXPECT_EQ(SchemaProblems(machine.out, "info"), "");
    const auto document = Document(machine);
    EXPECT_EQ(document["freeBytes"], expected);
    const std::uint64_t serial = LittleEndian(ReadFile(volume), 72, 8);
    if ((serial >> 32) != 0) {
        char text[24];
        std::snprintf(text, sizeof text, "0x%016llx", static_cast<unsigned long long>(serial));
        EXPECT_EQ(document["serialNumber"], text);
    }
}

// Where the file system cannot be counted, the free space is unknown: null, never 0.
TEST(InfoCommand, FreeSpaceThatCannotBeCountedIsUnknownNotZero) {
    if (!HaveFatTools())
        GTEST_SKIP() << "dosfstools or mtools missing";
    TempFolder dir;
    const fs::path card = MakeFatCard(dir, "card.img", "-F 16", 20000, {{"A.JPG", 50000}});
    const std::string whole = ReadFile(card);
    struct Case {
        const char* name;
        std::string bytes;
    };
    std::string forged = whole;
    forged[0x16] = '\xff';  // sectors per FAT: 65,535, far beyond the card
    forged[0x17] = '\xff';
    const Case cases[] = {
        {"zeros.img", std::string(1 << 20, '\0')},
        {"cut in its FAT.img", whole.substr(0, 4096)},
        {"forged FAT size.img", forged},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path image = dir / c.name;
        WriteFile(image, c.bytes);
        const RunResult machine =
            RunCliStdout("info " + Quoted(image.string()) + " --json", dir.path());
        ASSERT_EQ(machine.exitCode, 0) << machine.out;
        EXPECT_EQ(SchemaProblems(machine.out, "info"), "");
        EXPECT_TRUE(Document(machine)["freeBytes"].is_null()) << machine.out;
        EXPECT_EQ(Row(RunCli("info " + Quoted(image.string()), dir.path()).out, "Free space"),
                  "unknown");
    }
}

// The lines say what they are in words; the JSON keeps its keys and exact numbers.
TEST(InfoCommand, LinesAreWordsAndTheJsonKeepsExactNumbers) {
    if (!HaveFatTools())
        GTEST_SKIP() << "dosfstools or mtools missing";
    TempFolder dir;
    const fs::path card =
        MakeFatCard(dir, "card.img", "-F 16 -s 4 -n HOLIDAY -i 1234ABCD", 20000, {{"A.JPG", 9000}});
    const auto free = FsckFreeBytes(card);
    ASSERT_TRUE(free);
    const RunResult text = RunCli("info " + Quoted(card.string()), dir.path());
    ASSERT_EQ(text.exitCode, 0) << text.out;
    const std::pair<const char*, std::string> rows[] = {
        {"Kind", "Volume Image"},
        {"Device", card.string()},
        {"Name", "card.img"},
        {"Size", "20.5 MB (20,480,000 bytes)"},
        {"512-byte sectors", "40,000"},
        {"Bytes per sector", "512"},
        {"File system", "FAT16"},
        {"Label", "HOLIDAY"},
        {"Serial number", "0x1234abcd"},
        {"Cluster size", "2.0 kB (2,048 bytes)"},
        {"Free space", SizeText(*free)},
        {"State", "Ready"},
        {"Readable", "yes"},
    };
    for (const auto& [label, value] : rows)
        EXPECT_EQ(Row(text.out, label), value) << label << " in:\n" << text.out;
    // An image is in no drive list but this run's: it has no number to give.
    EXPECT_EQ(Row(text.out, "Number"), std::nullopt);
    EXPECT_FALSE(std::regex_search(text.out, std::regex(R"((^|\n)[a-z]+[A-Z]\w*:)")))
        << "a field name in:\n"
        << text.out;

    const RunResult machine = RunCliStdout("info " + Quoted(card.string()) + " --json", dir.path());
    EXPECT_EQ(SchemaProblems(machine.out, "info"), "");
    const auto document = Document(machine);
    EXPECT_TRUE(document["number"].is_null());
    EXPECT_EQ(document["size"], 20480000u);
    EXPECT_EQ(document["clusterSize"], 2048u);
    EXPECT_EQ(document["serialNumber"], "0x1234abcd");
    EXPECT_EQ(document["label"], "HOLIDAY");
    EXPECT_EQ(document["diskOffset"], 0u);
    EXPECT_EQ(document["freeBytes"], *free);
    EXPECT_TRUE(document["parent"].is_null());
}

// ---------------------------------------------------------------------------------------
// drives

// Every number drives prints is one info takes, naming the same drive; a card in a loop
// device (a reader with a card, as the machine sees it) shows its real free space.
TEST(DrivesCommand, EveryNumberItPrintsIsOneInfoTakes) {
    TempFolder dir;
    std::optional<std::uint64_t> cardFree;
    fs::path card;
    if (HaveFatTools()) {
        card = MakeFatCard(dir, "card.img", "-F 16", 20000, {{"IMG_0001.JPG", 400000}});
        cardFree = FsckFreeBytes(card);
    }
    const Loop loop(card);
    // Other tests attach and detach loop devices meanwhile: the numbers hold only while the
    // machine's drives stay the same, so a run during which they changed is taken again.
    RunResult drives;
    json list;
    std::vector<json> infos;
    for (int attempt = 0; attempt < 5; ++attempt) {
        drives = RunCliStdout("drives --json", dir.path());
        ASSERT_EQ(drives.exitCode, 0) << drives.out;
        list = Document(drives);
        ASSERT_TRUE(list.is_array());
        infos.clear();
        for (std::size_t n = 0; n < list.size(); ++n) {
            const RunResult info =
                RunCliStdout("info " + Quoted("#" + std::to_string(n)) + " --json", dir.path());
            ASSERT_EQ(info.exitCode, 0) << info.out;
            EXPECT_EQ(SchemaProblems(info.out, "info"), "");
            infos.push_back(Document(info));
        }
        if (Document(RunCliStdout("drives --json", dir.path())) == list)
            break;
    }
    EXPECT_EQ(SchemaProblems(drives.out, "drives"), "");
    for (std::size_t n = 0; n < list.size(); ++n) {
        const json& drive = list[n];
        SCOPED_TRACE(drive.dump());
        EXPECT_EQ(drive["number"], n);
        const json& described = infos[n];
        for (const char* key : {"number", "kind", "devicePath", "name", "size", "readable"})
            EXPECT_EQ(described[key], drive[key]) << key;
        if (!loop.Device().empty() && drive["devicePath"] == loop.Device()) {
            EXPECT_EQ(described["fileSystem"], "FAT16");
            EXPECT_EQ(described["freeBytes"], *cardFree);
        }
    }
    if (!loop.Device().empty()) {
        EXPECT_FALSE(DriveEntry(list, loop.Device()).is_null()) << drives.out;
    }
    // The image a command opened by its path is in no later drive list.
    if (!card.empty()) {
        EXPECT_EQ(RunCli("info " + Quoted(card.string()), dir.path()).exitCode, 0);
        EXPECT_TRUE(DriveEntry(Document(RunCliStdout("drives --json", dir.path())), card.string())
                        .is_null());
    }
    const RunResult beyond =
        RunCli("info " + Quoted("#" + std::to_string(list.size() + 50)), dir.path());
    EXPECT_EQ(beyond.exitCode, 2) << beyond.out;
}

// A drive this user cannot open says why instead of "Ready", in the table and the JSON;
// the reason names the group whose members may read it.
TEST(DrivesCommand, ADriveThisUserCannotOpenSaysWhy) {
    if (!HaveFatTools())
        GTEST_SKIP() << "dosfstools or mtools missing";
    TempFolder dir;
    const fs::path card = MakeFatCard(dir, "card.img", "-F 16", 10000, {});
    const Loop loop(card);
    if (loop.Device().empty() || !RunAsNobody("--version", dir))
        GTEST_SKIP() << "needs root, a loop device and setpriv";
    struct stat node {};
    ASSERT_EQ(::stat(loop.Device().c_str(), &node), 0);
    struct Case {
        const char* mode;
        const char* group;
        bool readable;
        std::string state;
    };
    const Case cases[] = {
        {"600", "root", false, "needs root"},
        {"660", "disk", false, "needs root or the disk group"},
        {"644", "disk", true, "Ready"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + " " + c.group);
        if (!RunCommand("getent group " + std::string(c.group) + " >/dev/null && chgrp " + c.group +
                        " " + Quoted(loop.Device()) + " && chmod " + c.mode + " " +
                        Quoted(loop.Device()))) {
            ADD_FAILURE() << "cannot set the device's group and mode";
            continue;
        }
        const auto listed = RunAsNobody("drives --json", dir);
        ASSERT_TRUE(listed);
        EXPECT_EQ(SchemaProblems(listed->out, "drives"), "");
        const json drive = DriveEntry(Document(*listed), loop.Device());
        ASSERT_FALSE(drive.is_null()) << listed->out;
        EXPECT_EQ(drive["readable"], c.readable);
        EXPECT_EQ(drive["state"], c.state);
        EXPECT_EQ(drive["unreadableReason"], c.readable ? json() : json(c.state));
        const auto table = RunAsNobody("drives", dir);
        ASSERT_TRUE(table);
        EXPECT_TRUE(
            std::regex_search(table->out, std::regex(loop.Device() + R"( .*  )" + c.state + "\n")))
            << table->out;
    }
    ::chmod(loop.Device().c_str(), node.st_mode & 07777);
    RunCommand("chgrp " + std::to_string(node.st_gid) + " " + Quoted(loop.Device()));
    // Root opens it.
    const json drive =
        DriveEntry(Document(RunCliStdout("drives --json", dir.path())), loop.Device());
    EXPECT_EQ(drive["readable"], true);
    EXPECT_EQ(drive["state"], "Ready");
}

// ---------------------------------------------------------------------------------------
// partitions

// Each entry says where it starts on the disk (diskOffset) and in what was read (start),
// with its size in bytes; MBR entries have no name.
TEST(PartitionsCommand, OffsetsSayWhatTheyCountFrom) {
    if (!HaveTool("sfdisk"))
        GTEST_SKIP() << "util-linux sfdisk missing";
    struct Layout {
        const char* label;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> sectors;  // start, count
    };
    const Layout layouts[] = {
        {"dos", {{2048, 20480}, {32768, 40960}, {90112, 4096}}},
        {"gpt", {{2048, 8192}, {34816, 20480}}},
    };
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.label);
        TempFolder dir;
        const fs::path disk = dir / "disk.img";
        std::string script = std::string("label: ") + layout.label + "\\n";
        for (const auto& [start, count] : layout.sectors)
            script += "start=" + std::to_string(start) + ", size=" + std::to_string(count) +
                      ", type=" + (std::string(layout.label) == "gpt" ? "L" : "83") + "\\n";
        ASSERT_TRUE(RunCommand("truncate -s 64M " + Quoted(disk.string()) + " && printf '" +
                               script + "' | sfdisk -q " + Quoted(disk.string())));
        const RunResult machine =
            RunCliStdout("partitions " + Quoted(disk.string()) + " --json", dir.path());
        ASSERT_EQ(machine.exitCode, 0) << machine.out;
        EXPECT_EQ(SchemaProblems(machine.out, "partitions"), "");
        const auto entries = Document(machine);
        ASSERT_EQ(entries.size(), layout.sectors.size()) << machine.out;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const auto& entry = entries[i];
            EXPECT_EQ(entry["number"], i + 1);
            EXPECT_EQ(entry["diskOffset"], layout.sectors[i].first * 512);
            EXPECT_EQ(entry["start"], layout.sectors[i].first * 512);
            EXPECT_EQ(entry["size"], layout.sectors[i].second * 512);
            EXPECT_EQ(entry["name"].is_null(), std::string(layout.label) == "dos");
            EXPECT_EQ(entry["damaged"], false);
        }
        const RunResult text = RunCli("partitions " + Quoted(disk.string()), dir.path());
        EXPECT_NE(text.out.find("Disk offset"), std::string::npos) << text.out;
        EXPECT_NE(text.out.find("\n2   " + std::to_string(layout.sectors[1].first * 512) + " "),
                  std::string::npos)
            << text.out;
    }
}

// ---------------------------------------------------------------------------------------
// find-lost

// A disk whose table was wiped: each volume the search finds, by its place on the disk
// and its size, in the JSON as in the table.
TEST(FindLostCommand, JsonGivesEachFoundVolumeItsDiskOffsetAndSize) {
    if (!HaveFatTools() || !HaveTool("sfdisk"))
        GTEST_SKIP() << "dosfstools, mtools or util-linux missing";
    TempFolder dir;
    const fs::path disk = dir / "disk.img";
    struct Volume {
        std::uint64_t sector;
        int kib;
    };
    const Volume volumes[] = {{2048, 10240}, {24576, 12288}, {51200, 10240}};
    ASSERT_TRUE(RunCommand("truncate -s 40M " + Quoted(disk.string())));
    for (const Volume& volume : volumes) {
        ASSERT_TRUE(RunCommand("mkfs.fat -F 16 --offset " + std::to_string(volume.sector) + " " +
                               Quoted(disk.string()) + " " + std::to_string(volume.kib) +
                               " >/dev/null"));
    }
    const RunResult machine =
        RunCliStdout("find-lost " + Quoted(disk.string()) + " --json", dir.path());
    ASSERT_EQ(machine.exitCode, 0) << machine.out;
    EXPECT_EQ(SchemaProblems(machine.out, "find-lost"), "");
    const auto found = Document(machine);
    ASSERT_EQ(found.size(), std::size(volumes)) << machine.out;
    for (std::size_t i = 0; i < found.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(found[i]["number"], i + 1);
        EXPECT_EQ(found[i]["diskOffset"], volumes[i].sector * 512);
        EXPECT_EQ(found[i]["start"], volumes[i].sector * 512);
        EXPECT_EQ(found[i]["size"], std::uint64_t(volumes[i].kib) * 1024);
        EXPECT_EQ(found[i]["fileSystem"], "FAT16");
    }
    const RunResult text = RunCli("find-lost " + Quoted(disk.string()), dir.path());
    EXPECT_NE(text.out.find("#   Disk offset"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("\n3   26214400 "), std::string::npos) << text.out;
}

// ---------------------------------------------------------------------------------------
// settings show

// Which settings a run of duzez-cli reads, in the listing and in the JSON.
TEST(SettingsCommand, ShowMarksWhatTheCommandLineUses) {
    TempFolder dir;
    struct Setting {
        const char* name;
        std::string line;
        json value;
        bool used;
        json option;
    };
    const Setting settings[] = {
        {"Read retry attempts", "Read retry attempts: 10 (used by duzez-cli)", 10, true, nullptr},
        {"Save log in file", "Save log in file: off (used by duzez-cli)", false, true, nullptr},
        {"Log names of found files", "Log names of found files: off (used by duzez-cli)", false,
         true, nullptr},
        {"Write log in system debug window",
         "Write log in system debug window: on (duzez-cli uses -v instead)", true, false, "-v"},
        {"Confirm scan abort", "Confirm scan abort: on", true, false, nullptr},
        {"Continue with sector scan", "Continue with sector scan: off", false, false, nullptr},
        {"Window",
         "Window: left 112, top 84, width 800, height 600",
         {{"left", 112}, {"top", 84}, {"width", 800}, {"height", 600}},
         false,
         nullptr},
        {"Log file name", "Log file name: Duzez Quarnel.log (used by duzez-cli)",
         "Duzez Quarnel.log", true, nullptr},
    };
    const RunResult text = RunCli("settings show", dir.path());
    ASSERT_EQ(text.exitCode, 0) << text.out;
    const RunResult out = RunCliStdout("settings show --json", dir.path());
    ASSERT_EQ(out.exitCode, 0) << out.out;
    EXPECT_EQ(SchemaProblems(out.out, "settings"), "");
    const auto document = Document(out);
    EXPECT_EQ(document["checksumValid"], true);
    for (const Setting& setting : settings) {
        SCOPED_TRACE(setting.name);
        EXPECT_NE(text.out.find("\n" + setting.line + "\n"), std::string::npos) << text.out;
        json entry;
        for (const json& candidate : document["settings"]) {
            if (candidate["name"] == setting.name)
                entry = candidate;
        }
        ASSERT_FALSE(entry.is_null());
        EXPECT_EQ(entry["value"], setting.value);
        EXPECT_EQ(entry["usedByCli"], setting.used);
        EXPECT_EQ(entry["cliOption"], setting.option);
    }
}

// ---------------------------------------------------------------------------------------
// image

// On a terminal the copy's progress says which time is which; in a pipe there is none.
TEST(ImageCommand, ProgressLabelsItsTimesOnATerminalOnly) {
    TempFolder dir;
    const fs::path source = dir / "source.img";
    // Large enough that even a fast machine shows states before the last.
    MakeSparseFile(source, 512ull << 20);
    const RunResult terminal = RunCliOnTerminal(
        "image " + Quoted(source.string()) + " " + Quoted((dir / "a.dsk").string()), dir.path(),
        120);
    if (terminal.exitCode == -1)
        GTEST_SKIP() << "script(1) missing";
    EXPECT_EQ(terminal.exitCode, 0) << terminal.out;
    std::vector<std::string> states;
    std::string state;
    for (const char c : terminal.out) {
        if (c == '\x1b' || c == '\n') {
            if (!state.empty())
                states.push_back(state);
            state.clear();
        } else {
            state += c;
        }
    }
    const std::regex running(R"(\[K *\d+%  +[\d.]+ MB/s  elapsed \d\d:\d\d, left \d\d:\d\d)");
    const std::regex last(R"(\[K100%  +[\d.]+ MB/s  elapsed \d\d:\d\d)");
    std::vector<std::string> progress;
    for (const std::string& line : states) {
        if (line.rfind("[K", 0) == 0)
            progress.push_back(line);
    }
    // At least one state while it ran, and the last one kept.
    ASSERT_GE(progress.size(), 2u) << terminal.out;
    for (std::size_t i = 0; i + 1 < progress.size(); ++i)
        EXPECT_TRUE(std::regex_match(progress[i], running)) << progress[i];
    EXPECT_TRUE(std::regex_match(progress.back(), last)) << progress.back();
    EXPECT_NE(terminal.out.find("1048576 of 1048576 sectors written"), std::string::npos);

    const RunResult piped = RunCli(
        "image " + Quoted(source.string()) + " " + Quoted((dir / "b.dsk").string()), dir.path());
    EXPECT_EQ(piped.exitCode, 0) << piped.out;
    EXPECT_EQ(piped.out,
              "1048576 of 1048576 sectors written to " + (dir / "b.dsk").string() + "\n");
}

// ---------------------------------------------------------------------------------------
// log

// The log lines -v copies to stderr carry a date no one can read two ways.
TEST(LogLines, CarryAnIsoTimestamp) {
    if (!HaveFatTools())
        GTEST_SKIP() << "dosfstools or mtools missing";
    TempFolder dir;
    const fs::path card = MakeFatCard(dir, "card.img", "-F 16", 10000, {{"A.JPG", 5000}});
    const RunResult result = RunCli("-v list " + Quoted(card.string()), dir.path());
    ASSERT_EQ(result.exitCode, 0) << result.out;
    const std::regex stamped(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d - .+)");
    std::size_t logged = 0;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("file system analysis") == std::string::npos)
            continue;
        ++logged;
        EXPECT_TRUE(std::regex_match(line, stamped)) << line;
    }
    EXPECT_GT(logged, 0u) << result.out;
}

}  // namespace
}  // namespace duzez::test
