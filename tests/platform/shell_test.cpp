#include "platform/shell.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/temp_folder.h"

namespace duzez::platform {
namespace {

// Puts a stand-in xdg-open that exits with `code` first on PATH.
class FakeXdgOpen {
  public:
    explicit FakeXdgOpen(int code, const std::string& extra = "")
        : path_("PATH", dir_.path().string()) {
        const auto script = dir_ / "xdg-open";
        test::WriteFile(script, "#!/bin/sh\necho \"$1\" > '" + (dir_ / "opened").string() + "'\n" +
                                    extra + "exit " + std::to_string(code) + "\n");
        ::chmod(script.c_str(), 0755);
    }
    std::string Opened() const { return test::ReadFile(dir_ / "opened"); }

  private:
    test::TempFolder dir_;
    test::ScopedEnv path_;
};

TEST(XdgOpener, MapsTheLauncherOutcome) {
    {
        FakeXdgOpen fake(0);
        EXPECT_EQ(XdgOpener().Open("/tmp/some file.txt").status, ShellOpenStatus::Opened);
        EXPECT_EQ(fake.Opened(), "/tmp/some file.txt\n");
    }
    {
        FakeXdgOpen fake(3);
        EXPECT_EQ(XdgOpener().Open("/tmp/x").status, ShellOpenStatus::NoAssociatedApplication);
    }
    {
        FakeXdgOpen fake(4);
        const ShellOpenResult result = XdgOpener().Open("/tmp/x");
        EXPECT_EQ(result.status, ShellOpenStatus::Failed);
        EXPECT_EQ(result.code, 4);
    }
}

TEST(XdgOpener, MissingLauncherMeansNoAssociatedApplication) {
    test::TempFolder empty;
    test::ScopedEnv path("PATH", empty.path().string());
    EXPECT_EQ(XdgOpener().Open("/tmp/x").status, ShellOpenStatus::NoAssociatedApplication);
}

}  // namespace
}  // namespace duzez::platform
