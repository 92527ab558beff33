#include "recovery/safe_names.h"

#include <gtest/gtest.h>

namespace duzez::recovery {
namespace {

TEST(SafeNames, AComponentNeverClimbsHoldsASeparatorOrDrivesATerminal) {
    EXPECT_EQ(CleanComponent(".."), "_..");
    EXPECT_EQ(CleanComponent("."), "_.");
    EXPECT_EQ(CleanComponent(""), "_");
    EXPECT_EQ(CleanComponent("../../etc/passwd"), ".._.._etc_passwd");
    EXPECT_EQ(CleanComponent(std::string("a\0b", 3)), "a_b");
    EXPECT_EQ(CleanComponent("red\x1b[31m\x7f"), "red_[31m_");
    EXPECT_EQ(CleanComponent("Ferien-Foto \xC3\xBC.jpg"), "Ferien-Foto \xC3\xBC.jpg");
}

TEST(SafeNames, LongNamesAreShortenedKeepingTheExtensionAndWholeCharacters) {
    const std::string longName = std::string(300, 'a') + ".jpeg";
    const std::string clean = CleanComponent(longName);
    EXPECT_EQ(clean.size(), 255u);
    EXPECT_EQ(clean.substr(clean.size() - 5), ".jpeg");
    // Two-byte characters: the cut never splits one.
    std::string umlauts;
    for (int i = 0; i < 200; ++i)
        umlauts += "\xC3\xBC";
    const std::string cut = CleanComponent(umlauts + ".png");
    EXPECT_LE(cut.size(), 255u);
    EXPECT_EQ((cut.size() - 4) % 2, 0u);
    EXPECT_EQ(cut.substr(cut.size() - 4), ".png");
    EXPECT_EQ(CleanComponent(std::string(255, 'x')).size(), 255u);
}

TEST(SafeNames, BytesThatAreNoUtf8CannotShortenANameIntoDots) {
    const std::string dots = ".A" + std::string(300, '\x80') + ".";
    const std::string clean = CleanComponent(dots);
    EXPECT_NE(clean, "..");
    EXPECT_NE(clean, ".");
    EXPECT_FALSE(clean.empty());
    EXPECT_LE(clean.size(), 255u);
    EXPECT_FALSE(CleanComponent(std::string(300, '\x80')).empty());
}

TEST(SafeNames, NumberedNamesKeepTheExtensionAndTheLimit) {
    EXPECT_EQ(NumberedName("IMG_0001.JPG", 2), "IMG_0001 (2).JPG");
    EXPECT_EQ(NumberedName("README", 3), "README (3)");
    EXPECT_EQ(NumberedName(".hidden", 2), ".hidden (2)");
    const std::string numbered = NumberedName(std::string(250, 'b') + ".jpg", 12);
    EXPECT_EQ(numbered.size(), 255u);
    EXPECT_EQ(numbered.substr(numbered.size() - 9), " (12).jpg");
}

}  // namespace
}  // namespace duzez::recovery
