#include "platform/program_folders.h"

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"

namespace duzez::platform {
namespace {

TEST(ProgramFolders, DataBesideTheExecutableComesFirst) {
    test::TempFolder dir;
    const auto bin = dir / "bin";
    std::filesystem::create_directories(bin / "Languages");
    std::filesystem::create_directories(dir / "share" / "duzez" / "Languages");
    std::filesystem::create_directories(dir / "share" / "duzez" / "media");
    EXPECT_EQ(FindProgramData(bin, "Languages"), bin / "Languages");
    EXPECT_EQ(FindProgramData(bin, "media"),
              (dir / "share" / "duzez" / "media").lexically_normal());
    EXPECT_FALSE(FindProgramData(bin, "signatures.reg"));
}

TEST(ProgramFolders, TemporaryFolderFromTmpdirOnlyWhenItExists) {
    test::TempFolder dir;
    {
        test::ScopedEnv env("TMPDIR", dir.path().string());
        EXPECT_EQ(SystemTempFolder(), dir.path());
    }
    test::ScopedEnv env("TMPDIR", (dir / "missing").string());
    EXPECT_EQ(SystemTempFolder(), "/tmp");
}

TEST(ProgramFolders, ExecutableIsThisTestProgram) {
    EXPECT_EQ(ExecutablePath().filename(), "platform_tests");
}

}  // namespace
}  // namespace duzez::platform
