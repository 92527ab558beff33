// Runs duzez-cli as a user would and checks what it prints and stores.

#include <gtest/gtest.h>

#include "platform/registry_store.h"
#include "tests/cli/run_cli.h"
#include "tests/support/temp_folder.h"

namespace {

using duzez::test::HaveTool;
using duzez::test::ReadFile;
using duzez::test::RunCli;
using duzez::test::RunCommand;
using duzez::test::RunResult;
using duzez::test::WriteFile;

// Whether `out` holds `part`; shows `out` when not.
::testing::AssertionResult Has(const std::string& out, const std::string& part) {
    if (out.find(part) != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no \"" << part << "\" in:\n" << out;
}

TEST(Cli, VersionAndHelp) {
    duzez::test::TempFolder dir;
    const RunResult version = RunCli("--version", dir.path());
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("duzez-cli ", 0), 0u) << version.out;
    const RunResult help = RunCli("", dir.path());
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(Has(help.out, "settings"));
}

// The first thing --help shows is the command most people came for; then the commands in
// the order a recovery needs them, and one line on each word a newcomer meets.
TEST(Cli, HelpLeadsWithRecoveringDeletedPhotos) {
    duzez::test::TempFolder dir;
    const RunResult help = RunCli("--help", dir.path());
    ASSERT_EQ(help.exitCode, 0);
    const std::string& out = help.out;
    const auto at = [&out](const std::string& text) { return out.find(text); };
    ASSERT_NE(at("duzez-cli recover /dev/sdX ~/Recovered --deleted-only"), std::string::npos)
        << out;
    EXPECT_LT(at("duzez-cli recover /dev/sdX"), at("Subcommands:"));
    EXPECT_LT(at("duzez-cli recover /dev/sdX"), at("duzez-cli list /dev/sdX"));
    for (const char* word : {"A volume is", "--deep", "--size-method"})
        EXPECT_LT(at(word), at("Usage:")) << word;
    const std::size_t commands = at("Subcommands:");
    std::size_t previous = commands;
    for (const char* command : {"\n  recover ", "\n  list ", "\n  drives ", "\n  settings "}) {
        const std::size_t here = out.find(command, commands);
        EXPECT_GT(here, previous) << command << "\n" << out;
        previous = here;
    }
}

// Options as people type them on the recover line: -v after the verb, size methods by
// their names and with units, and no destination taken for granted.
TEST(Cli, RecoverOptionsAsPeopleTypeThem) {
    duzez::test::TempFolder dir;
    if (!HaveTool("mkfs.fat"))
        GTEST_SKIP() << "dosfstools missing";
    const std::string card = (dir / "card.img").string();
    ASSERT_TRUE(RunCommand("mkfs.fat -C '" + card + "' 4000 >/dev/null"));
    const RunResult verbose = RunCli("list '" + card + "' -v", dir.path());
    EXPECT_EQ(verbose.exitCode, 0) << verbose.out;
    EXPECT_TRUE(Has(verbose.out, "Beginning file system analysis"));

    const struct {
        const char* method;
        int exitCode;
    } methods[] = {
        {"typical", 0},     {"default", 0},     {"next-any", 0},    {"next-same", 0},
        {"custom:10MB", 0}, {"custom:4096", 0}, {"custom:2MiB", 0}, {"custom:0", 2},
        {"custom:0MB", 2},  {"custom:10XB", 2}, {"custom:", 2},     {"largest", 2},
    };
    int run = 0;
    for (const auto& m : methods) {
        const std::string out = (dir / ("out" + std::to_string(run++))).string();
        const RunResult result =
            RunCli("recover '" + card + "' '" + out + "' --size-method " + m.method, dir.path());
        EXPECT_EQ(result.exitCode, m.exitCode) << m.method << "\n" << result.out;
    }
    const RunResult help = RunCli("recover --help", dir.path());
    EXPECT_TRUE(Has(help.out, "next-any (up to the next file found; the default)"));

    // An empty DEST is no folder: nothing is written into the working folder.
    const auto before = std::distance(std::filesystem::directory_iterator(dir.path()),
                                      std::filesystem::directory_iterator());
    const RunResult empty = RunCli("recover '" + card + "' ''", dir.path());
    EXPECT_EQ(empty.exitCode, 2) << empty.out;
    EXPECT_TRUE(Has(empty.out, "DEST is empty"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              before);
}

TEST(Cli, BadArgumentsExitWithTwo) {
    duzez::test::TempFolder dir;
    EXPECT_EQ(RunCli("--no-such-option", dir.path()).exitCode, 2);
    EXPECT_EQ(RunCli("settings frobnicate", dir.path()).exitCode, 2);
}

TEST(Cli, SettingsShowDecodesTheStoredRecordAndResetRestoresDefaults) {
    duzez::test::TempFolder dir;
    const RunResult first = RunCli("settings show", dir.path());
    ASSERT_EQ(first.exitCode, 0) << first.out;
    EXPECT_TRUE(Has(first.out, "Read retry attempts: 10 (used by duzez-cli)\n"));
    EXPECT_TRUE(Has(first.out, "Checksum: 0x"));
    EXPECT_TRUE(Has(first.out, "Window: left 112, top 84, width 800, height 600"));

    // Change one field the way the program itself would, with a valid checksum.
    const auto file = dir / "Quarnel/Duzez/registry.reg";
    {
        duzez::platform::RegistryStore store(file);
        ASSERT_EQ(store.Load(), duzez::platform::StoreLoadResult::Loaded);
        auto record = store.ReadValue("Software\\Quarnel\\Duzez\\1.0", "Settings")->data;
        record[164] = 3;
        record[0] = static_cast<std::uint8_t>(record[0] - 7);
        store.WriteValue("Software\\Quarnel\\Duzez\\1.0", "Settings",
                         duzez::platform::RegValue::FromBinary(record));
    }
    EXPECT_TRUE(Has(RunCli("settings show", dir.path()).out,
                    "Read retry attempts: 3 (used by duzez-cli)\n"));
    EXPECT_EQ(RunCli("settings reset", dir.path()).exitCode, 0);
    EXPECT_TRUE(Has(RunCli("settings show", dir.path()).out,
                    "Read retry attempts: 10 (used by duzez-cli)\n"));
}

TEST(Cli, DamagedStoreIsReportedAndSetAside) {
    duzez::test::TempFolder dir;
    WriteFile(dir / "Quarnel/Duzez/registry.reg", "\x01\x02 not a store");
    const RunResult result = RunCli("settings show", dir.path());
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(Has(result.out, "warning: The settings store could not be read"));
    EXPECT_TRUE(std::filesystem::exists(dir / "Quarnel/Duzez/registry.reg.bad"));
}

// What a person does with a card image: list it, then recover its photos.
TEST(Cli, ListAndRecoverACardImage) {
    duzez::test::TempFolder dir;
    if (!HaveTool("mkfs.fat") || !HaveTool("mcopy")) {
        GTEST_SKIP() << "dosfstools or mtools missing";
    }
    const auto card = dir / "card.img";
    std::string photo(70000, '\0');
    for (std::size_t i = 0; i < photo.size(); ++i)
        photo[i] = static_cast<char>(i * 13);
    WriteFile(dir / "IMG_0001.JPG", photo);
    ASSERT_TRUE(RunCommand("mkfs.fat -C -F 16 '" + card.string() + "' 20000"));
    ASSERT_TRUE(RunCommand("MTOOLS_SKIP_CHECK=1 mmd -i '" + card.string() + "' ::/DCIM"));
    ASSERT_TRUE(RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -i '" + card.string() + "' '" +
                           (dir / "IMG_0001.JPG").string() + "' ::/DCIM/"));
    const RunResult list = RunCli("list '" + card.string() + "'", dir.path());
    EXPECT_EQ(list.exitCode, 0) << list.out;
    EXPECT_TRUE(Has(list.out, "/DCIM/IMG_0001.JPG"));
    const RunResult recover =
        RunCli("recover '" + card.string() + "' '" + (dir / "out").string() + "' --match '*.jpg'",
               dir.path());
    EXPECT_EQ(recover.exitCode, 0) << recover.out;
    EXPECT_EQ(ReadFile(dir / "out" / "DCIM" / "IMG_0001.JPG"), photo);
    EXPECT_EQ(RunCli("recover '" + (dir / "missing.img").string() + "' out", dir.path()).exitCode,
              2);
}

// The second partition of a disk image is NTFS: listed and recovered with --volume 2.
TEST(Cli, ListAndRecoverAnNtfsPartition) {
    duzez::test::TempFolder dir;
    if (!HaveTool("mkntfs") || !HaveTool("sfdisk") || !HaveTool("mkfs.fat")) {
        GTEST_SKIP() << "ntfs-3g, fdisk or dosfstools missing";
    }
    const auto disk = dir / "disk.img";
    const auto ntfs = dir / "ntfs.img";
    const auto mount = dir / "mnt";
    std::filesystem::create_directories(mount);
    ASSERT_TRUE(
        RunCommand("truncate -s 48M '" + disk.string() + "' && printf 'label: dos\\n" +
                   "start=2048, size=30720, type=c\\nstart=32768, size=61440, type=7\\n' | " +
                   "sfdisk -q '" + disk.string() + "'"));
    ASSERT_TRUE(RunCommand("truncate -s 30M '" + ntfs.string() + "' && mkntfs -q -F -f -p 32768 '" +
                           ntfs.string() + "'"));
    if (!RunCommand("ntfs-3g '" + ntfs.string() + "' '" + mount.string() + "'"))
        GTEST_SKIP() << "FUSE is not available here, so the NTFS volume cannot be filled";
    std::string photo(150000, '\0');
    for (std::size_t i = 0; i < photo.size(); ++i)
        photo[i] = static_cast<char>(i * 31 + i / 977);
    std::filesystem::create_directories(mount / "DCIM");
    WriteFile(mount / "DCIM" / "Holiday.jpg", photo);
    WriteFile(mount / "DCIM" / "note.txt", "resident");
    RunCommand("umount '" + mount.string() + "'");
    ASSERT_TRUE(RunCommand("dd if='" + ntfs.string() + "' of='" + disk.string() +
                           "' bs=512 seek=32768 conv=notrunc"));
    ASSERT_TRUE(RunCommand("mkfs.fat --offset 2048 '" + disk.string() + "' 15360"));

    const RunResult list = RunCli("list '" + disk.string() + "' --volume 2", dir.path());
    EXPECT_EQ(list.exitCode, 0) << list.out;
    EXPECT_TRUE(Has(list.out, "/DCIM/Holiday.jpg"));
    EXPECT_TRUE(Has(list.out, "(NTFS)"));
    const RunResult recover = RunCli(
        "recover '" + disk.string() + "' '" + (dir / "out").string() + "' --volume 2 --match '*.*'",
        dir.path());
    EXPECT_EQ(recover.exitCode, 0) << recover.out;
    EXPECT_EQ(ReadFile(dir / "out" / "DCIM" / "Holiday.jpg"), photo);
    EXPECT_EQ(ReadFile(dir / "out" / "DCIM" / "note.txt"), "resident");
}

}  // namespace
