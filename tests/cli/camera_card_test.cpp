// The bad day from end to end: a camera card whose file system is gone, recovered from its
// sectors alone.

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using duzez::test::ReadFile;
using duzez::test::RunCommand;

std::string Sha256(const fs::path& file) {
    return duzez::test::CommandOutput("sha256sum '" + file.string() + "'").substr(0, 64);
}

TEST(CameraCard, PhotosOfAWipedCardComeBackByteIdentical) {
    if (!duzez::test::HaveTool("mkfs.fat") || !duzez::test::HaveTool("mcopy") ||
        !RunCommand("convert -version | grep -q ImageMagick") ||
        !duzez::test::HaveTool("sha256sum")) {
        GTEST_SKIP() << "dosfstools, mtools, ImageMagick or sha256sum missing";
    }
    duzez::test::TempFolder dir;
    const fs::path card = dir / "card.img";
    ASSERT_TRUE(RunCommand("mkfs.fat -C -F 32 -s 1 '" + card.string() + "' 40960"));
    ASSERT_TRUE(
        RunCommand("MTOOLS_SKIP_CHECK=1 mmd -i '" + card.string() + "' ::/DCIM ::/DCIM/100CANON"));
    const std::map<std::string, std::string> photos = {
        {"IMG_0001.JPG", "logo: -resize 70% -quality 85"},
        {"IMG_0002.JPG", "rose: -resize 500% -quality 92"},
        {"IMG_0003.PNG", "-size 300x200 gradient:gold-navy -colors 32"},
        {"IMG_0004.JPG", "-seed 5 -size 640x480 plasma:fractal -quality 80"},
        {"IMG_0005.JPG", "wizard: -resize 80% -quality 88"},
        {"IMG_0006.PNG", "rose: -resize 200%"},
    };
    std::set<std::string> originals;
    for (const auto& [name, source] : photos) {
        const fs::path photo = dir / name;
        ASSERT_TRUE(RunCommand("convert " + source + " -strip '" + photo.string() + "'")) << name;
        ASSERT_TRUE(RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -i '" + card.string() + "' '" +
                               photo.string() + "' ::/DCIM/100CANON/"));
        originals.insert(Sha256(photo));
    }
    ASSERT_TRUE(RunCommand("MTOOLS_SKIP_CHECK=1 mdel -i '" + card.string() +
                           "' ::/DCIM/100CANON/IMG_0002.JPG ::/DCIM/100CANON/IMG_0006.PNG"));

    // Wipe the FATs, every directory and all free space: only the boot sector and the
    // photos' own bytes survive.
    std::string bytes = ReadFile(card);
    std::string wiped(bytes.size(), '\0');
    wiped.replace(0, 512, bytes.substr(0, 512));
    for (const auto& [name, source] : photos) {
        const std::string photo = ReadFile(dir / name);
        const std::size_t at = bytes.find(photo);
        ASSERT_NE(at, std::string::npos) << name << " is not contiguous on the card";
        wiped.replace(at, photo.size(), photo);
    }
    duzez::test::WriteFile(card, wiped);

    const fs::path out = dir / "recovered";
    const std::string report = duzez::test::CommandOutput(
        "XDG_CONFIG_HOME='" + dir.path().string() + "' '" DUZEZ_CLI_PATH "' recover '" +
        card.string() + "' '" + out.string() + "' --deep 2>&1");
    std::set<std::string> recovered;
    for (const auto& entry : fs::recursive_directory_iterator(out)) {
        if (entry.is_regular_file())
            recovered.insert(Sha256(entry.path()));
    }
    for (const auto& hash : originals)
        EXPECT_TRUE(recovered.count(hash)) << "a photo is missing or differs\n" << report;
    EXPECT_EQ(recovered.size(), originals.size()) << "nothing but the photos\n" << report;
}

}  // namespace
