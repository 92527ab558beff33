// Run through sudo or pkexec, duzez-cli works as root for a user: what it creates is that
// user's. Anything that was there before keeps its owner.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "platform/file_io.h"
#include "platform/file_owner.h"
#include "tests/cli/run_cli.h"
#include "tests/support/temp_folder.h"

namespace duzez::test {
namespace {

using platform::FileOwner;

std::optional<FileOwner> FromEnvironment(uid_t euid, std::map<std::string, std::string> vars) {
    return platform::InvokingUserFrom(euid, [&](const char* name) -> std::optional<std::string> {
        const auto found = vars.find(name);
        return found != vars.end() ? std::optional(found->second) : std::nullopt;
    });
}

TEST(InvokingUser, IsTakenFromSudoOrPkexecOnlyWhenRunningAsRoot) {
    const auto sudo = FromEnvironment(0, {{"SUDO_UID", "1000"}, {"SUDO_GID", "1001"}});
    ASSERT_TRUE(sudo.has_value());
    EXPECT_EQ(sudo->uid, 1000u);
    EXPECT_EQ(sudo->gid, std::optional<gid_t>(1001));

    // pkexec names no group: the user's own primary group, from the user database.
    const auto pkexec = FromEnvironment(0, {{"PKEXEC_UID", "65534"}});
    ASSERT_TRUE(pkexec.has_value());
    EXPECT_EQ(pkexec->uid, 65534u);
    EXPECT_EQ(pkexec->gid, std::optional<gid_t>(65534));

    // sudo run from a root shell that pkexec opened: the user behind pkexec.
    const auto nested = FromEnvironment(0, {{"SUDO_UID", "0"}, {"PKEXEC_UID", "1000"}});
    ASSERT_TRUE(nested.has_value());
    EXPECT_EQ(nested->uid, 1000u);

    EXPECT_FALSE(FromEnvironment(1000, {{"SUDO_UID", "1000"}, {"SUDO_GID", "1000"}}));
    EXPECT_FALSE(FromEnvironment(0, {}));
}

TEST(InvokingUser, RefusesValuesThatAreNoPlainUserNumber) {
    for (const char* value : {"", "0", "-1", "12a", " 1000", "1000 ", "+1000", "0x3e8",
                              "4294967295", "99999999999", "1e3"}) {
        EXPECT_FALSE(FromEnvironment(0, {{"SUDO_UID", value}, {"SUDO_GID", "100"}}))
            << "'" << value << "'";
    }
    // A group that is no number leaves the group to the user database, not to the text.
    const auto owner = FromEnvironment(0, {{"SUDO_UID", "65534"}, {"SUDO_GID", "root"}});
    ASSERT_TRUE(owner.has_value());
    EXPECT_EQ(owner->gid, std::optional<gid_t>(65534));
}

class CreatedFilesOwner : public ::testing::Test {
  protected:
    static constexpr uid_t kUser = 65534;

    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "giving files to another user needs root";
        if (!HaveTool("mkfs.fat") || !HaveTool("mcopy"))
            GTEST_SKIP() << "dosfstools or mtools missing";
        WriteFile(dir_ / "IMG_0001.JPG", std::string(9000, 'p'));
        WriteFile(dir_ / "NOTES.TXT", "notes");
        ASSERT_TRUE(MakeFatImage(
            card_, "-F 12", 8192,
            {"mmd ::/DCIM", "mmd ::/DCIM/100CANON",
             "mcopy " + Quoted((dir_ / "IMG_0001.JPG").string()) + " ::/DCIM/100CANON/",
             "mcopy " + Quoted((dir_ / "NOTES.TXT").string()) + " ::/"}));
    }

    // Every path below `root` (and `root`) with the owner it has.
    static std::map<std::filesystem::path, std::pair<uid_t, gid_t>> Owners(
        const std::filesystem::path& root) {
        std::map<std::filesystem::path, std::pair<uid_t, gid_t>> owners;
        const auto add = [&](const std::filesystem::path& path) {
            struct stat info {};
            if (::lstat(path.c_str(), &info) == 0)
                owners[path] = {info.st_uid, info.st_gid};
        };
        add(root);
        if (std::filesystem::is_directory(root)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
                add(entry.path());
        }
        return owners;
    }

    // What the test runs under must not choose the owner: each test sets its own.
    ScopedEnv noSudoUid_{"SUDO_UID", ""};
    ScopedEnv noSudoGid_{"SUDO_GID", ""};
    ScopedEnv noPkexecUid_{"PKEXEC_UID", ""};
    TempFolder dir_;
    std::filesystem::path card_ = dir_ / "card.img";
};

TEST_F(CreatedFilesOwner, RecoveredFoldersFilesAndReportAreTheSudoUsers) {
    // The folder the user chose exists already; the run creates "new/dest" below it.
    const auto chosen = dir_ / "chosen";
    std::filesystem::create_directory(chosen);
    const ScopedEnv uid("SUDO_UID", std::to_string(kUser));
    const ScopedEnv gid("SUDO_GID", std::to_string(kUser));
    const RunResult run =
        RunCli("recover " + Quoted(card_.string()) + " " + Quoted((chosen / "new/dest").string()) +
                   " --report " + Quoted((chosen / "report.json").string()),
               dir_.path());
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const auto owners = Owners(chosen);
    EXPECT_EQ(owners.at(chosen), std::make_pair(uid_t{0}, gid_t{0}));
    for (const char* made : {"new", "new/dest", "new/dest/DCIM/100CANON/IMG_0001.JPG",
                             "new/dest/NOTES.TXT", "report.json"}) {
        ASSERT_TRUE(owners.count(chosen / made)) << made;
        EXPECT_EQ(owners.at(chosen / made), std::make_pair(kUser, gid_t{kUser})) << made;
        // Read by root from a drive only root could read: the user's alone.
        const auto mode = std::filesystem::status(chosen / made).permissions();
        EXPECT_EQ(mode,
                  std::filesystem::is_directory(chosen / made)
                      ? std::filesystem::perms::owner_all
                      : std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
            << made;
    }
    for (const auto& [path, owner] : owners) {
        if (path != chosen) {
            EXPECT_EQ(owner.first, kUser) << path;
        }
    }
}

TEST_F(CreatedFilesOwner, FoldersThatExistedKeepTheirOwnerUnderPkexec) {
    const auto dest = dir_ / "dest";
    std::filesystem::create_directories(dest / "DCIM");
    const ScopedEnv uid("PKEXEC_UID", std::to_string(kUser));
    const RunResult run =
        RunCli("recover " + Quoted(card_.string()) + " " + Quoted(dest.string()), dir_.path());
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const auto owners = Owners(dest);
    EXPECT_EQ(owners.at(dest).first, 0u);
    EXPECT_EQ(owners.at(dest / "DCIM").first, 0u);
    EXPECT_EQ(owners.at(dest / "DCIM/100CANON").first, kUser);
    EXPECT_EQ(owners.at(dest / "DCIM/100CANON/IMG_0001.JPG").first, kUser);
}

TEST_F(CreatedFilesOwner, AnImageIsTheSudoUsersAndRootKeepsWhatItMakesForItself) {
    {
        const ScopedEnv uid("SUDO_UID", std::to_string(kUser));
        const ScopedEnv gid("SUDO_GID", std::to_string(kUser));
        const RunResult run =
            RunCli("image " + Quoted(card_.string()) + " " + Quoted((dir_ / "copy.dsk").string()),
                   dir_.path());
        ASSERT_EQ(run.exitCode, 0) << run.out;
    }
    EXPECT_EQ(Owners(dir_ / "copy.dsk").at(dir_ / "copy.dsk"), std::make_pair(kUser, gid_t{kUser}));
    EXPECT_EQ(std::filesystem::status(dir_ / "copy.dsk").permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    // Root's own run (no sudo) leaves root's files root's.
    const RunResult own = RunCli(
        "recover " + Quoted(card_.string()) + " " + Quoted((dir_ / "mine").string()), dir_.path());
    ASSERT_EQ(own.exitCode, 0) << own.out;
    for (const auto& [path, owner] : Owners(dir_ / "mine"))
        EXPECT_EQ(owner.first, 0u) << path;
}

// sudo -E keeps the user's home: the settings and the log written there stay the user's,
// or the next run without sudo could save neither. In root's own folders they stay root's.
TEST_F(CreatedFilesOwner, SettingsAndLogInTheUsersHomeStayTheUsers) {
    const auto home = dir_ / "home";
    const auto rootsHome = dir_ / "root";
    std::filesystem::create_directories(home);
    std::filesystem::create_directories(rootsHome);
    ASSERT_EQ(::chown(home.c_str(), kUser, kUser), 0);
    for (const auto& folder : {home, rootsHome}) {
        const RunResult run = RunCli("settings reset", folder / "config");
        ASSERT_EQ(run.exitCode, 0) << run.out;
        const auto log = folder / "state" / "duzez" / "log.txt";
        ASSERT_TRUE(platform::CreateFolders(log.parent_path()));
        std::FILE* file = platform::OpenOwnFileForAppending(log, false);
        ASSERT_NE(file, nullptr);
        std::fclose(file);
        const uid_t expected = folder == home ? kUser : 0;
        const auto owners = Owners(folder);
        EXPECT_GE(owners.size(), 7u);  // config, its two folders and the store; the log's
        for (const auto& [path, owner] : owners)
            EXPECT_EQ(owner, std::make_pair(expected, gid_t{expected})) << path;
    }
}

}  // namespace
}  // namespace duzez::test
