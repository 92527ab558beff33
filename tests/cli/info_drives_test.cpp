// What info, drives, partitions, find-lost, settings show and image tell a person at a
// terminal and a script reading their JSON: words instead of field names, the free space
// the file system really has, where every offset counts from, whether a drive can be read,
// and documents that follow the schemas kept in the repository.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <optional>
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
using Extents = std::vector<std::pair<std::uint64_t, std::uint64_t>>;  // offset, size in bytes

// card.img in `dir`, made by mkfs.fat with `options`: a DCIM folder holding a file of
// patterned bytes of each of `sizes`.
fs::path FatCard(const TempFolder& dir, const std::string& options, int kib,
                 const std::vector<std::size_t>& sizes = {}) {
    std::vector<std::string> steps = {"mmd ::/DCIM"};
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const fs::path file = dir / ("IMG_000" + std::to_string(i) + ".JPG");
        WriteFile(file, Pattern(sizes[i], static_cast<unsigned>(i) + 1));
        steps.push_back("mcopy " + Quoted(file.string()) + " ::/DCIM/");
    }
    EXPECT_TRUE(MakeFatImage(dir / "card.img", options, kib, steps));
    return dir / "card.img";
}

// The free bytes fsck.fat counts: its free clusters times its cluster size.
std::optional<std::uint64_t> FsckFreeBytes(const fs::path& card) {
    const std::string out = CommandOutput("fsck.fat -n -v " + Quoted(card.string()) + " 2>&1");
    std::smatch cluster;
    std::smatch used;
    if (!std::regex_search(out, cluster, std::regex(R"((\d+) bytes per cluster)")) ||
        !std::regex_search(out, used, std::regex(R"((\d+)/(\d+) clusters)")))
        return std::nullopt;
    return (std::stoull(used[2]) - std::stoull(used[1])) * std::stoull(cluster[1]);
}

// info on `image` for a script and for a person: the JSON follows its schema, and both give
// `free` as the free space, or null and "unknown" without it. Returns the JSON.
json InfoSays(const fs::path& image, const TempFolder& dir, std::optional<std::uint64_t> free) {
    json document = CheckedJson("info " + Quoted(image.string()), dir.path(), "info");
    EXPECT_EQ(document["freeBytes"], free ? json(*free) : json()) << document.dump();
    // "20.4 MB (20,420,608 bytes)": the exact count in brackets, in groups of three.
    std::string row =
        Row(RunCli("info " + Quoted(image.string()), dir.path()).out, "Free space").value_or("");
    const char* shape = free ? R"([\d.]+ [kMG]B \(\d{1,3}(,\d{3})* bytes\))" : "unknown";
    EXPECT_TRUE(std::regex_match(row, std::regex(shape))) << row;
    std::erase(row, ',');
    if (free) {
        EXPECT_NE(row.find("(" + std::to_string(*free) + " bytes)"), std::string::npos) << row;
    }
    return document;
}

// `command` on `disk` for a script and for a person: entry i is numbered i + 1, starts
// `extents[i].first` bytes into the disk, which is also what was read, and is
// `extents[i].second` bytes long. Returns the JSON.
json ListsExtents(const std::string& command, const fs::path& disk, const TempFolder& dir,
                  const Extents& extents) {
    json entries = CheckedJson(command + " " + Quoted(disk.string()), dir.path(), command);
    EXPECT_EQ(entries.size(), extents.size()) << entries.dump();
    for (std::size_t i = 0; i < std::min(entries.size(), extents.size()); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(entries[i]["number"], i + 1);
        EXPECT_EQ(entries[i]["diskOffset"], extents[i].first);
        EXPECT_EQ(entries[i]["start"], extents[i].first);
        EXPECT_EQ(entries[i]["size"], extents[i].second);
    }
    const std::string text = RunCli(command + " " + Quoted(disk.string()), dir.path()).out;
    EXPECT_NE(text.find("#   Disk offset"), std::string::npos) << text;
    const std::string last =
        std::to_string(extents.size()) + "   " + std::to_string(extents.back().first) + " ";
    EXPECT_NE(text.find("\n" + last), std::string::npos) << text;
    return entries;
}

// The free space of a FAT card is what its FAT says, whatever the variant: the same count
// fsck.fat makes.
TEST(InfoCommand, FatFreeSpaceIsWhatTheFatSays) {
    if (!HaveFatTools())
        GTEST_SKIP() << "dosfstools or mtools missing";
    const std::tuple<const char*, int, std::vector<std::size_t>> cards[] = {
        {"-F 12", 2000, {70000, 300000}},
        {"-F 16 -s 4", 20000, {1500000, 10}},
        {"-F 32", 300000, {5000000, 4096, 4097}},
    };
    for (const auto& [options, kib, sizes] : cards) {
        SCOPED_TRACE(options);
        TempFolder dir;
        const fs::path image = FatCard(dir, options, kib, sizes);
        const auto free = FsckFreeBytes(image);
        ASSERT_GT(free.value_or(0), 0u) << "fsck.fat gave no cluster count";
        InfoSays(image, dir, free);
    }
}

// FSInfo's free count is a hint any system may leave stale: a wrong one changes nothing.
TEST(InfoCommand, AStaleFsInfoCountIsNotBelieved) {
    if (!HaveFatTools())
        GTEST_SKIP() << "dosfstools or mtools missing";
    TempFolder dir;
    const fs::path card = FatCard(dir, "-F 32", 300000, {900000});
    const auto free = FsckFreeBytes(card);
    ASSERT_TRUE(free);
    std::string bytes = ReadFile(card);
    const std::size_t fsInfo = 512 * static_cast<unsigned char>(bytes.at(48));
    ASSERT_EQ(bytes.substr(fsInfo + 484, 4), "rrAa") << "no FSInfo sector where the boot says";
    for (const std::string& stale :
         {std::string("\x07\0\0\0", 4), std::string("\xff\xff\xff\x0f")}) {
        WriteFile(card, bytes.replace(fsInfo + 488, 4, stale));
        InfoSays(card, dir, free);
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
                           Quoted(card.string())));
    // The number dump.exfat gives on the line that starts with `label`.
    const auto dumped = [&card](const std::string& label) {
        const std::string out = CommandOutput("dump.exfat " + Quoted(card.string()) + " 2>&1");
        std::smatch match;
        EXPECT_TRUE(std::regex_search(out, match, std::regex(label + R"([^:\n]*:\s*(\w+))")))
            << out;
        return match.empty() ? 0ull : std::stoull(match[1], nullptr, 0);
    };
    const std::uint64_t cluster = dumped("Cluster size");
    const std::uint64_t bitmap = (dumped("Cluster Heap Offset") << dumped("Sector Size Bits")) +
                                 (dumped("Bitmap start cluster") - 2) * cluster;
    std::string bytes = ReadFile(card);
    // Ten whole bytes and one odd bit: 81 clusters more in use.
    bytes.replace(bitmap + 100, 10, std::string(10, '\xff'));
    bytes[bitmap + 120] = static_cast<char>(bytes[bitmap + 120] | 0x10);
    WriteFile(card, bytes);
    ASSERT_GT(dumped("Free Clusters"), 0u);

    json document = InfoSays(card, dir, dumped("Free Clusters") * cluster);
    EXPECT_EQ(document["fileSystem"], "exFAT");
    char serial[16];
    std::snprintf(serial, sizeof serial, "0x%08llx", dumped("Volume Serial"));
    EXPECT_EQ(document["serialNumber"], serial);
}

// NTFS's free space is its $Bitmap's clear bits, as ntfscluster counts them; its serial
// number has 16 digits.
TEST(InfoCommand, NtfsFreeSpaceIsWhatItsBitmapSays) {
    if (!HaveTool("mkntfs") || !HaveTool("ntfscp") || !HaveTool("ntfscluster"))
        GTEST_SKIP() << "ntfs-3g tools missing";
    TempFolder dir;
    const fs::path volume = dir / "ntfs.img";
    const std::string quoted = Quoted(volume.string());
    WriteFile(dir / "photo.jpg", Pattern(700000, 3));
    ASSERT_TRUE(RunCommand("truncate -s 20M " + quoted + " && mkntfs -q -F -f " + quoted +
                           " && ntfscp " + quoted + " " + Quoted((dir / "photo.jpg").string()) +
                           " photo.jpg"));
    const std::string out = CommandOutput("ntfscluster -i " + quoted + " 2>/dev/null");
    std::smatch free;
    ASSERT_TRUE(std::regex_search(out, free, std::regex(R"(bytes of free space\s*:\s*(\d+))")))
        << out;
    json document = InfoSays(volume, dir, std::stoull(free[1]));
    const std::string boot = ReadFile(volume);
    unsigned long long serial = 0;  // bytes 72 to 79 of the boot sector, little-endian
    for (int i = 79; i >= 72; --i)
        serial = serial << 8 | static_cast<unsigned char>(boot.at(i));
    if ((serial >> 32) != 0) {
        char text[24];
        std::snprintf(text, sizeof text, "0x%016llx", serial);
        EXPECT_EQ(document["serialNumber"], text);
    }
}

// Where the file system cannot be counted, the free space is unknown: null, never 0.
TEST(InfoCommand, FreeSpaceThatCannotBeCountedIsUnknownNotZero) {
    if (!HaveFatTools())
        GTEST_SKIP() << "dosfstools or mtools missing";
    TempFolder dir;
    const std::string whole = ReadFile(FatCard(dir, "-F 16", 20000, {50000}));
    std::string forged = whole;
    forged.replace(0x16, 2, "\xff\xff");  // sectors per FAT: 65,535, far beyond the card
    const std::pair<const char*, std::string> images[] = {
        {"zeros.img", std::string(1 << 20, '\0')},
        {"cut in its FAT.img", whole.substr(0, 4096)},
        {"forged FAT size.img", forged},
    };
    for (const auto& [name, bytes] : images) {
        SCOPED_TRACE(name);
        WriteFile(dir / name, bytes);
        InfoSays(dir / name, dir, std::nullopt);
    }
}

// The lines say what they are in words; the JSON keeps its keys and exact numbers.
TEST(InfoCommand, LinesAreWordsAndTheJsonKeepsExactNumbers) {
    if (!HaveFatTools())
        GTEST_SKIP() << "dosfstools or mtools missing";
    TempFolder dir;
    const fs::path card = FatCard(dir, "-F 16 -s 4 -n HOLIDAY -i 1234ABCD", 20000, {9000});
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

    json document = InfoSays(card, dir, FsckFreeBytes(card));
    const json exact = json::parse(R"({"number": null, "size": 20480000, "clusterSize": 2048,
        "serialNumber": "0x1234abcd", "label": "HOLIDAY", "diskOffset": 0, "parent": null})");
    for (const auto& [key, value] : exact.items())
        EXPECT_EQ(document[key], value) << key;
}

// Every number drives prints is one info takes, naming the same drive; a card in a loop
// device (a reader with a card, as the machine sees it) shows its real free space.
TEST(DrivesCommand, EveryNumberItPrintsIsOneInfoTakes) {
    TempFolder dir;
    const fs::path card = HaveFatTools() ? FatCard(dir, "-F 16", 20000, {400000}) : fs::path();
    const auto cardFree = card.empty() ? std::nullopt : FsckFreeBytes(card);
    const LoopDevice loop(card);
    // Other tests attach and detach loop devices meanwhile: the numbers hold only while the
    // machine's drives stay the same, so a run during which they changed is taken again.
    // So the answers are checked only once a run is known to have seen one list.
    json list;
    std::vector<RunResult> answers;
    for (int attempt = 0; attempt < 5; ++attempt) {
        list = CheckedJson("drives", dir.path(), "drives");
        ASSERT_TRUE(list.is_array());
        answers.clear();
        for (std::size_t n = 0; n < list.size(); ++n)
            answers.push_back(RunCliStdout("info '#" + std::to_string(n) + "' --json", dir.path()));
        if (CheckedJson("drives", dir.path(), "drives") == list)
            break;
    }
    std::vector<json> infos;
    for (const RunResult& answer : answers) {
        ASSERT_EQ(answer.exitCode, 0) << answer.out;
        EXPECT_EQ(SchemaProblems(answer.out, "info"), "");
        infos.push_back(JsonOut(answer));
    }
    for (std::size_t n = 0; n < list.size(); ++n) {
        SCOPED_TRACE(list[n].dump());
        EXPECT_EQ(list[n]["number"], n);
        for (const char* key : {"number", "kind", "devicePath", "name", "size", "readable"})
            EXPECT_EQ(infos[n][key], list[n][key]) << key;
        if (!loop.Device().empty() && list[n]["devicePath"] == loop.Device()) {
            EXPECT_EQ(infos[n]["fileSystem"], "FAT16");
            EXPECT_EQ(infos[n]["freeBytes"], cardFree ? json(*cardFree) : json());
        }
    }
    if (!loop.Device().empty()) {
        EXPECT_FALSE(DriveEntry(list, loop.Device()).is_null()) << list.dump();
    }
    // The image a command opened by its path is in no later drive list.
    if (!card.empty()) {
        EXPECT_EQ(RunCli("info " + Quoted(card.string()), dir.path()).exitCode, 0);
        EXPECT_TRUE(
            DriveEntry(CheckedJson("drives", dir.path(), "drives"), card.string()).is_null());
    }
    const RunResult beyond = RunCli("info '#" + std::to_string(list.size() + 50) + "'", dir.path());
    EXPECT_EQ(beyond.exitCode, 2) << beyond.out;
}

// A drive this user cannot open says why instead of "Ready", in the table and the JSON;
// the reason names the group whose members may read it.
TEST(DrivesCommand, ADriveThisUserCannotOpenSaysWhy) {
    if (!HaveFatTools())
        GTEST_SKIP() << "dosfstools or mtools missing";
    TempFolder dir;
    const LoopDevice loop(FatCard(dir, "-F 16", 10000));
    const std::string& device = loop.Device();
    if (device.empty() || !RunCliWithoutRights("--version", dir.path()))
        GTEST_SKIP() << "needs root, a loop device and setpriv";
    struct stat node {};
    ASSERT_EQ(::stat(device.c_str(), &node), 0);
    const std::string cases[][3] = {
        // mode, group, what the user is told
        {"600", "root", "needs root"},
        {"660", "disk", "needs root or the disk group"},
        {"644", "disk", "Ready"},
    };
    // No ASSERT until the device's mode is restored below.
    for (const auto& [mode, group, state] : cases) {
        SCOPED_TRACE(mode + " " + group);
        if (!RunCommand("getent group " + group + " && chgrp " + group + " " + Quoted(device) +
                        " && chmod " + mode + " " + Quoted(device))) {
            ADD_FAILURE() << "cannot set the device's group and mode";
            continue;
        }
        const RunResult listed = RunCliWithoutRights("drives --json", dir.path()).value();
        EXPECT_EQ(SchemaProblems(listed.out, "drives"), "");
        json drive = DriveEntry(JsonOut(listed), device);
        EXPECT_FALSE(drive.is_null()) << listed.out;
        const bool readable = state == "Ready";
        EXPECT_EQ(drive["readable"], readable);
        EXPECT_EQ(drive["state"], state);
        EXPECT_EQ(drive["unreadableReason"], readable ? json() : json(state));
        const std::string table = RunCliWithoutRights("drives", dir.path()).value().out;
        EXPECT_TRUE(std::regex_search(table, std::regex(device + " .*  " + state + "\n"))) << table;
    }
    ::chmod(device.c_str(), node.st_mode & 07777);
    RunCommand("chgrp " + std::to_string(node.st_gid) + " " + Quoted(device));
    // Root opens it.
    json drive = DriveEntry(CheckedJson("drives", dir.path(), "drives"), device);
    EXPECT_EQ(drive["readable"], true);
    EXPECT_EQ(drive["state"], "Ready");
}

// Each entry says where it starts on the disk (diskOffset) and in what was read (start),
// with its size in bytes; MBR entries have no name.
TEST(PartitionsCommand, OffsetsSayWhatTheyCountFrom) {
    if (!HaveTool("sfdisk"))
        GTEST_SKIP() << "util-linux sfdisk missing";
    const std::pair<std::string, Extents> layouts[] = {
        // in sectors: start, count
        {"dos", {{2048, 20480}, {32768, 40960}, {90112, 4096}}},
        {"gpt", {{2048, 8192}, {34816, 20480}}},
    };
    for (const auto& [label, sectors] : layouts) {
        SCOPED_TRACE(label);
        TempFolder dir;
        const fs::path disk = dir / "disk.img";
        std::string script = "label: " + label + "\\n";
        Extents bytes;
        for (const auto& [start, count] : sectors) {
            script += "start=" + std::to_string(start) + ", size=" + std::to_string(count) +
                      ", type=" + (label == "dos" ? "83" : "L") + "\\n";
            bytes.emplace_back(start * 512, count * 512);
        }
        ASSERT_TRUE(RunCommand("truncate -s 64M " + Quoted(disk.string()) + " && printf '" +
                               script + "' | sfdisk -q " + Quoted(disk.string())));
        for (json& entry : ListsExtents("partitions", disk, dir, bytes)) {
            EXPECT_EQ(entry["name"].is_null(), label == "dos");
            EXPECT_EQ(entry["damaged"], false);
        }
    }
}

// A disk whose table was wiped: each volume the search finds, by its place on the disk
// and its size, in the JSON as in the table.
TEST(FindLostCommand, JsonGivesEachFoundVolumeItsDiskOffsetAndSize) {
    if (!HaveFatTools())
        GTEST_SKIP() << "dosfstools missing";
    TempFolder dir;
    const fs::path disk = dir / "disk.img";
    ASSERT_TRUE(RunCommand("truncate -s 40M " + Quoted(disk.string())));
    Extents volumes;
    for (const auto& [sector, kib] : {std::pair{2048, 10240}, {24576, 12288}, {51200, 10240}}) {
        ASSERT_TRUE(RunCommand("mkfs.fat -F 16 --offset " + std::to_string(sector) + " " +
                               Quoted(disk.string()) + " " + std::to_string(kib)));
        volumes.emplace_back(sector * 512ull, kib * 1024ull);
    }
    for (json& found : ListsExtents("find-lost", disk, dir, volumes))
        EXPECT_EQ(found["fileSystem"], "FAT16");
}

// Which settings a run of duzez-cli reads, in the listing and in the JSON.
TEST(SettingsCommand, ShowMarksWhatTheCommandLineUses) {
    TempFolder dir;
    // The line listed, then what the JSON says of the same setting.
    const std::pair<std::string, const char*> settings[] = {
        {"Read retry attempts: 10 (used by duzez-cli)",
         R"("value": 10, "usedByCli": true, "cliOption": null)"},
        {"Save log in file: off (used by duzez-cli)",
         R"("value": false, "usedByCli": true, "cliOption": null)"},
        {"Log names of found files: off (used by duzez-cli)",
         R"("value": false, "usedByCli": true, "cliOption": null)"},
        {"Write log in system debug window: on (duzez-cli uses -v instead)",
         R"("value": true, "usedByCli": false, "cliOption": "-v")"},
        {"Confirm scan abort: on", R"("value": true, "usedByCli": false, "cliOption": null)"},
        {"Continue with sector scan: off",
         R"("value": false, "usedByCli": false, "cliOption": null)"},
        {"Window: left 112, top 84, width 800, height 600",
         R"("value": {"left": 112, "top": 84, "width": 800, "height": 600},)"
         R"( "usedByCli": false, "cliOption": null)"},
        {"Log file name: Duzez Quarnel.log (used by duzez-cli)",
         R"("value": "Duzez Quarnel.log", "usedByCli": true, "cliOption": null)"},
    };
    const RunResult text = RunCli("settings show", dir.path());
    ASSERT_EQ(text.exitCode, 0) << text.out;
    json document = CheckedJson("settings show", dir.path(), "settings");
    EXPECT_EQ(document["checksumValid"], true);
    const json& entries = document["settings"];
    for (const auto& [line, said] : settings) {
        SCOPED_TRACE(line);
        EXPECT_NE(text.out.find("\n" + line + "\n"), std::string::npos) << text.out;
        const auto entry = std::find_if(entries.begin(), entries.end(), [&](const json& e) {
            return e.value("name", "") == line.substr(0, line.find(':'));
        });
        ASSERT_NE(entry, entries.end());
        const json expected = json::parse("{" + std::string(said) + "}");
        for (const auto& [key, value] : expected.items())
            EXPECT_EQ(entry->value(key, json()), value) << key;
    }
}

// On a terminal the copy's progress says which time is which; in a pipe there is none.
TEST(ImageCommand, ProgressLabelsItsTimesOnATerminalOnly) {
    TempFolder dir;
    const fs::path source = dir / "source.img";
    // Large enough that even a fast machine shows states before the last.
    MakeSparseFile(source, 512ull << 20);
    const std::string image = "image " + Quoted(source.string()) + " ";
    const RunResult terminal =
        RunCliOnTerminal(image + Quoted((dir / "a.dsk").string()), dir.path(), 120);
    if (terminal.exitCode == -1)
        GTEST_SKIP() << "script(1) missing";
    EXPECT_EQ(terminal.exitCode, 0) << terminal.out;
    // States while it ran, the last one kept, then the summary.
    const std::vector<std::string> frames = TerminalFrames(terminal.out);
    ASSERT_GE(frames.size(), 3u) << terminal.out;
    const std::regex running(R"( *\d+%  +[\d.]+ MB/s  elapsed \d\d:\d\d, left \d\d:\d\d)");
    for (std::size_t i = 0; i + 2 < frames.size(); ++i)
        EXPECT_TRUE(std::regex_match(frames[i], running)) << frames[i];
    const std::string& last = frames[frames.size() - 2];
    EXPECT_TRUE(std::regex_match(last, std::regex(R"(100%  +[\d.]+ MB/s  elapsed \d\d:\d\d)")))
        << last;
    EXPECT_EQ(frames.back(), "1048576 of 1048576 sectors written to " + (dir / "a.dsk").string());

    const RunResult piped = RunCli(image + Quoted((dir / "b.dsk").string()), dir.path());
    EXPECT_EQ(piped.exitCode, 0) << piped.out;
    EXPECT_EQ(piped.out,
              "1048576 of 1048576 sectors written to " + (dir / "b.dsk").string() + "\n");
}

// Ctrl-C ends the copy at once: the image keeps what was copied, and the run says in
// words and in its exit code that it is incomplete.
TEST(ImageCommand, CtrlCStopsTheCopyAndSaysTheImageIsIncomplete) {
    TempFolder dir;
    const fs::path source = dir / "source.img";
    const fs::path image = dir / "cut.dsk";
    MakeSparseFile(source, 1ull << 30);
    const InterruptedRun run =
        RunCliInterrupted({"image", source.string(), image.string()}, dir.path(), dir / "run.log",
                          [&image](const std::string&) {
                              std::error_code error;
                              return fs::file_size(image, error) >= (2u << 20) && !error;
                          });
    ASSERT_TRUE(run.signalled) << run.out;
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_NE(run.out.find("the image is incomplete"), std::string::npos) << run.out;
    const std::uint64_t kept = fs::file_size(image);
    EXPECT_LT(kept, 1ull << 30);
    EXPECT_EQ(kept % 512, 0u);
    EXPECT_NE(run.out.find(std::to_string(kept / 512) + " of 2097152 sectors written"),
              std::string::npos)
        << run.out;
}

// The log lines -v copies to stderr carry a date no one can read two ways.
TEST(LogLines, CarryAnIsoTimestamp) {
    if (!HaveFatTools())
        GTEST_SKIP() << "dosfstools or mtools missing";
    TempFolder dir;
    const fs::path card = FatCard(dir, "-F 16", 10000, {5000});
    const RunResult result = RunCli("-v list " + Quoted(card.string()), dir.path());
    ASSERT_EQ(result.exitCode, 0) << result.out;
    // Every line of the analysis starts with its time.
    const auto lines = [&result](const std::string& start) {
        const std::regex line("^" + start + ".*file system analysis", std::regex::multiline);
        return std::distance(std::sregex_iterator(result.out.begin(), result.out.end(), line),
                             std::sregex_iterator());
    };
    EXPECT_GT(lines(""), 0) << result.out;
    EXPECT_EQ(lines(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d - )"), lines("")) << result.out;
}

}  // namespace
}  // namespace duzez::test
