#include <gtest/gtest.h>

#include "signatures/signature.h"

namespace duzez::signatures {
namespace {

std::vector<std::size_t> Tested(const SignaturePattern& p) {
    std::vector<std::size_t> positions;
    for (std::size_t i = 0; i < kSectorBytes; ++i) {
        if (p.Mask[i] != 0)
            positions.push_back(i);
    }
    return positions;
}

TEST(PatternText, ExamplesOfTheFormat) {
    const auto jpeg = ParsePatternText("0=$FF,1=$D8,2=$FF");
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(Tested(*jpeg), (std::vector<std::size_t>{0, 1, 2}));
    EXPECT_EQ(jpeg->CompareLength, 3);
    EXPECT_EQ(jpeg->Value[1], 0xD8);
    EXPECT_FALSE(jpeg->CheckByBits);

    const auto strings = ParsePatternText("0='AB',8='1 2'");
    EXPECT_EQ(Tested(*strings), (std::vector<std::size_t>{0, 1, 8, 9}));
    EXPECT_EQ(strings->Value[9], '2') << "the blank inside the string is removed with the others";
    EXPECT_EQ(strings->CompareLength, 10);
}

TEST(PatternText, BlanksAndEmptyItemsAreIgnored) {
    const auto p = ParsePatternText("0 = $ff , 1=#216,,");
    EXPECT_EQ(Tested(*p), (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(p->Value[0], 0xFF);
    EXPECT_EQ(p->Value[1], 0xD8);
}

TEST(PatternText, TheLastByteOfTheSectorIsTheLimit) {
    EXPECT_TRUE(Tested(*ParsePatternText("510='ab'")).empty());
    const auto last = ParsePatternText("511=$41");
    EXPECT_EQ(Tested(*last), std::vector<std::size_t>{511});
    EXPECT_EQ(last->CompareLength, 512);
    EXPECT_TRUE(Tested(*ParsePatternText("512=$41")).empty());
}

TEST(PatternText, FormsAreReadByTheirFirstCharacterOnly) {
    const auto quoted = ParsePatternText("0='#1'");
    EXPECT_EQ(Tested(*quoted), (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(quoted->Value[0], '#');
    const auto hex = ParsePatternText("3=$0x1fzz,4=$Ab,5=#7");
    EXPECT_EQ(hex->Value[3], 0x1F);
    EXPECT_EQ(hex->Value[4], 0xAB);
    EXPECT_EQ(hex->Value[5], 7);
    EXPECT_EQ(Tested(*ParsePatternText("$41")), std::vector<std::size_t>{0})
        << "no '=' means offset 0";
}

TEST(PatternText, MalformedItemsAreSkippedAndTheRestCounts) {
    const auto p = ParsePatternText("x=$41,-1=$41,2=#256,3=%41,4=$,5=$42");
    EXPECT_EQ(Tested(*p), std::vector<std::size_t>{5});
    EXPECT_FALSE(ParsePatternText(""));
    const auto nothing = ParsePatternText("zz,,");
    ASSERT_TRUE(nothing) << "a text of unknown items still yields a pattern";
    EXPECT_EQ(nothing->CompareLength, 0);
    std::array<std::uint8_t, kSectorBytes> sector{};
    sector.fill(0x5A);
    EXPECT_TRUE(nothing->Matches(sector)) << "a pattern that tests nothing matches every sector";
}

TEST(PatternMatch, ByteComparisonAndCheckByBits) {
    std::array<std::uint8_t, kSectorBytes> sector{};
    sector[0] = 0xFF;
    sector[1] = 0xD8;
    sector[511] = 0x41;
    SignaturePattern p = *ParsePatternText("0=$FF,1=$D8,511=$41");
    EXPECT_TRUE(p.Matches(sector));
    sector[511] = 0x42;
    EXPECT_FALSE(p.Matches(sector));

    SignaturePattern bits = *ParsePatternText("0=$0F");
    bits.CheckByBits = true;
    bits.Mask[0] = 0xFF;
    sector[0] = 0xF0;  // no bit of 0x0F set
    EXPECT_TRUE(bits.Matches(sector));
    sector[0] = 0xF1;
    EXPECT_FALSE(bits.Matches(sector));
}

TEST(PatternText, FirstExtension) {
    EXPECT_EQ(Signature::FirstExtensionOf("jpg;jpeg;JPG"), "jpg");
    EXPECT_EQ(Signature::FirstExtensionOf("*.tif, *.tiff"), "*.tif");
    EXPECT_EQ(Signature::FirstExtensionOf(";png"), ";png");
    EXPECT_EQ(Signature::FirstExtensionOf("bmp"), "bmp");
    EXPECT_EQ(Signature::FirstExtensionOf(std::string(150, 'x')).size(), 99u);
}

}  // namespace
}  // namespace duzez::signatures
