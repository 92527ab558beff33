// A camera card on which deleting photos left gaps that new photos were written into, first
// free cluster first, so that they lie in pieces; then its FATs and folders were wiped.

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using duzez::test::ReadFile;
using duzez::test::RunCommand;

std::uint32_t Little(const std::string& bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

class FragmentedCard : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* tool : {"mkfs.fat", "mcopy", "mdel", "mshowfat", "convert"}) {
            if (!duzez::test::HaveTool(tool))
                GTEST_SKIP() << tool << " missing";
        }
        card_ = dir_ / "card.img";
        // 1 KiB clusters, as small cards have.
        ASSERT_TRUE(RunCommand("mkfs.fat -C -F 32 -s 2 '" + card_.string() + "' 98304 >/dev/null"));
    }

    std::string Mtools(const std::string& command) const {
        return "MTOOLS_SKIP_CHECK=1 " + command + " -i '" + card_.string() + "' ";
    }
    void Photo(const std::string& name, const char* size, int seed) {
        ASSERT_TRUE(RunCommand("convert -seed " + std::to_string(seed) + " -size " + size +
                               " plasma:fractal -quality 90 '" + (dir_ / name).string() + "'"));
        ASSERT_TRUE(RunCommand(Mtools("mcopy") + "'" + (dir_ / name).string() + "' ::/"));
    }
    // The next file goes into the first free cluster, as a camera allocates.
    void AllocateFirstFree() {
        std::string bytes = ReadFile(card_);
        const std::size_t fsInfo = Little(bytes, 48, 2) * 512;
        bytes.replace(fsInfo + 0x1EC, 4, std::string("\x02\x00\x00\x00", 4));
        duzez::test::WriteFile(card_, bytes);
    }
    std::size_t Pieces(const std::string& name) const {
        const std::string chain = duzez::test::CommandOutput(Mtools("mshowfat") + "::/" + name);
        return static_cast<std::size_t>(std::count(chain.begin(), chain.end(), '<'));
    }
    // Only the boot sector and the data clusters survive.
    void WipeFatsAndFolders() {
        std::string bytes = ReadFile(card_);
        const std::size_t reserved = Little(bytes, 14, 2);
        const std::size_t fats = static_cast<std::uint8_t>(bytes[16]);
        const std::size_t fatSectors = Little(bytes, 36, 4);
        const std::size_t cluster = static_cast<std::uint8_t>(bytes[13]) * 512;
        const std::size_t dataStart = (reserved + fats * fatSectors) * 512;
        const std::size_t root = dataStart + (Little(bytes, 44, 4) - 2) * cluster;
        bytes.replace(512, dataStart - 512, std::string(dataStart - 512, '\0'));
        bytes.replace(root, cluster, std::string(cluster, '\0'));
        duzez::test::WriteFile(card_, bytes);
    }
    std::string Cli(const std::string& arguments) const {
        return duzez::test::CommandOutput("XDG_CONFIG_HOME='" + dir_.path().string() +
                                          "' '" DUZEZ_CLI_PATH "' " + arguments + " 2>&1");
    }

    duzez::test::TempFolder dir_;
    fs::path card_;
};

TEST_F(FragmentedCard, TwoPiecePhotosComeBackWholeAndThreePiecesAreNotJoinedWrongly) {
    for (int i = 1; i <= 10; ++i)
        Photo("P" + std::to_string(i) + ".JPG", "1024x768", i);
    // Each new photo fills one gap and goes on after the last file: two pieces.
    const std::vector<std::pair<std::string, std::string>> twoPieces = {
        {"P2.JPG", "NEW1.JPG"}, {"P4.JPG", "NEW2.JPG"}, {"P6.JPG", "NEW3.JPG"}};
    int seed = 100;
    for (const auto& [deleted, added] : twoPieces) {
        ASSERT_TRUE(RunCommand(Mtools("mdel") + "::/" + deleted));
        AllocateFirstFree();
        Photo(added, "1600x1200", ++seed);
        ASSERT_EQ(Pieces(added), 2u) << added;
    }
    // Two gaps and the end: three pieces.
    ASSERT_TRUE(RunCommand(Mtools("mdel") + "::/P8.JPG ::/P10.JPG"));
    AllocateFirstFree();
    Photo("NEW4.JPG", "2000x1500", ++seed);
    ASSERT_EQ(Pieces("NEW4.JPG"), 3u);
    const std::string card = ReadFile(card_);
    const std::string threePieces = ReadFile(dir_ / "NEW4.JPG");
    const std::size_t threeStart = card.find(threePieces.substr(0, 1024));
    ASSERT_NE(threeStart, std::string::npos);
    WipeFatsAndFolders();

    const std::string report = Cli("recover '" + card_.string() + "' '" + (dir_ / "out").string() +
                                   "' --deep --carved-names offset");
    std::set<std::string> recovered;
    for (const auto& entry : fs::recursive_directory_iterator(dir_ / "out"))
        recovered.insert(ReadFile(entry.path()));
    for (const char* name :
         {"P1.JPG", "P3.JPG", "P5.JPG", "P7.JPG", "P9.JPG", "NEW1.JPG", "NEW2.JPG", "NEW3.JPG"}) {
        EXPECT_EQ(recovered.count(ReadFile(dir_ / name)), 1u) << name << "\n" << report;
    }
    EXPECT_EQ(recovered.count(threePieces), 0u);

    const std::string listing = Cli("list '" + card_.string() + "' --deep --verdicts");
    const std::string threeName = "IMG_" + std::to_string(threeStart) + ".jpg";
    const std::size_t line = listing.find(threeName);
    ASSERT_NE(line, std::string::npos) << listing;
    const std::size_t begin = listing.rfind('\n', line) + 1;
    const std::string threeLine = listing.substr(begin, listing.find('\n', line) - begin);
    EXPECT_EQ(threeLine.find("intact"), std::string::npos) << threeLine;
    std::size_t rejoined = 0;
    for (std::size_t at = listing.find("intact, rejoined"); at != std::string::npos;
         at = listing.find("intact, rejoined", at + 1)) {
        ++rejoined;
    }
    EXPECT_EQ(rejoined, 3u) << listing;
}

}  // namespace
