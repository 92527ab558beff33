// Runs duzez-cli as a user would and checks what it prints and stores.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>

#include "platform/registry_store.h"
#include "tests/cli/run_cli.h"
#include "tests/support/temp_folder.h"

namespace {

using duzez::test::RunCli;
using duzez::test::RunResult;

TEST(Cli, VersionAndHelp) {
    duzez::test::TempFolder dir;
    const RunResult version = RunCli("--version", dir.path());
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("duzez-cli ", 0), 0u) << version.out;
    const RunResult help = RunCli("", dir.path());
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("settings"), std::string::npos);
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
    EXPECT_NE(first.out.find("Read retry attempts: 10\n"), std::string::npos) << first.out;
    EXPECT_NE(first.out.find("Checksum: 0x"), std::string::npos);
    EXPECT_NE(first.out.find("Window: left 112, top 84, width 800, height 600"), std::string::npos);

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
    EXPECT_NE(RunCli("settings show", dir.path()).out.find("Read retry attempts: 3\n"),
              std::string::npos);
    EXPECT_EQ(RunCli("settings reset", dir.path()).exitCode, 0);
    EXPECT_NE(RunCli("settings show", dir.path()).out.find("Read retry attempts: 10\n"),
              std::string::npos);
}

TEST(Cli, DamagedStoreIsReportedAndSetAside) {
    duzez::test::TempFolder dir;
    duzez::test::WriteFile(dir / "Quarnel/Duzez/registry.reg", "\x01\x02 not a store");
    const RunResult result = RunCli("settings show", dir.path());
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.out.find("warning: The settings store could not be read"), std::string::npos)
        << result.out;
    EXPECT_TRUE(std::filesystem::exists(dir / "Quarnel/Duzez/registry.reg.bad"));
}

}  // namespace

namespace {

// What a person does with a card image: list it, then recover its photos.
TEST(Cli, ListAndRecoverACardImage) {
    duzez::test::TempFolder dir;
    if (!duzez::test::HaveTool("mkfs.fat") || !duzez::test::HaveTool("mcopy")) {
        GTEST_SKIP() << "dosfstools or mtools missing";
    }
    const auto card = dir / "card.img";
    std::string photo(70000, '\0');
    for (std::size_t i = 0; i < photo.size(); ++i)
        photo[i] = static_cast<char>(i * 13);
    duzez::test::WriteFile(dir / "IMG_0001.JPG", photo);
    ASSERT_TRUE(duzez::test::RunCommand("mkfs.fat -C -F 16 '" + card.string() + "' 20000"));
    ASSERT_TRUE(
        duzez::test::RunCommand("MTOOLS_SKIP_CHECK=1 mmd -i '" + card.string() + "' ::/DCIM"));
    ASSERT_TRUE(duzez::test::RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -i '" + card.string() + "' '" +
                                        (dir / "IMG_0001.JPG").string() + "' ::/DCIM/"));
    const RunResult list = RunCli("list '" + card.string() + "'", dir.path());
    EXPECT_EQ(list.exitCode, 0) << list.out;
    EXPECT_NE(list.out.find("/DCIM/IMG_0001.JPG"), std::string::npos) << list.out;
    const RunResult recover =
        RunCli("recover '" + card.string() + "' '" + (dir / "out").string() + "' --match '*.jpg'",
               dir.path());
    EXPECT_EQ(recover.exitCode, 0) << recover.out;
    EXPECT_EQ(duzez::test::ReadFile(dir / "out" / "DCIM" / "IMG_0001.JPG"), photo);
    EXPECT_EQ(RunCli("recover '" + (dir / "missing.img").string() + "' out", dir.path()).exitCode,
              2);
}

}  // namespace

namespace {

// The second partition of a disk image is NTFS: listed and recovered with --volume 2.
TEST(Cli, ListAndRecoverAnNtfsPartition) {
    using duzez::test::RunCommand;
    duzez::test::TempFolder dir;
    if (!duzez::test::HaveTool("mkntfs") || !duzez::test::HaveTool("sfdisk") ||
        !duzez::test::HaveTool("mkfs.fat")) {
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
    duzez::test::WriteFile(mount / "DCIM" / "Holiday.jpg", photo);
    duzez::test::WriteFile(mount / "DCIM" / "note.txt", "resident");
    RunCommand("umount '" + mount.string() + "'");
    ASSERT_TRUE(RunCommand("dd if='" + ntfs.string() + "' of='" + disk.string() +
                           "' bs=512 seek=32768 conv=notrunc"));
    ASSERT_TRUE(RunCommand("mkfs.fat --offset 2048 '" + disk.string() + "' 15360"));

    const RunResult list = RunCli("list '" + disk.string() + "' --volume 2", dir.path());
    EXPECT_EQ(list.exitCode, 0) << list.out;
    EXPECT_NE(list.out.find("/DCIM/Holiday.jpg"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("(NTFS)"), std::string::npos) << list.out;
    const RunResult recover = RunCli(
        "recover '" + disk.string() + "' '" + (dir / "out").string() + "' --volume 2 --match '*.*'",
        dir.path());
    EXPECT_EQ(recover.exitCode, 0) << recover.out;
    EXPECT_EQ(duzez::test::ReadFile(dir / "out" / "DCIM" / "Holiday.jpg"), photo);
    EXPECT_EQ(duzez::test::ReadFile(dir / "out" / "DCIM" / "note.txt"), "resident");
}

}  // namespace
