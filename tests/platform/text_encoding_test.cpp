#include "platform/text_encoding.h"

#include <gtest/gtest.h>

namespace duzez::platform {
namespace {

TEST(TextEncoding, Utf16RoundTripIncludingSurrogatePairs) {
    const std::string text = "Caf\u00e9 \u6f22 \U0001F4F7";
    const auto bytes = Utf8ToUtf16Le(text);
    EXPECT_EQ(bytes.size(), 2u * (5 + 2 + 2));
    EXPECT_EQ(Utf16LeToUtf8(bytes), text);
}

TEST(TextEncoding, BrokenInputBecomesReplacementCharacters) {
    const std::vector<std::uint8_t> lonelyHigh = {0x3D, 0xD8, 0x41, 0x00};  // D83D then 'A'
    EXPECT_EQ(Utf16LeToUtf8(lonelyHigh), "\uFFFDA");
    EXPECT_EQ(Utf8ToUtf16("a\xC3"), (std::u16string{u'a', u'\uFFFD'}));
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));      // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // encoded surrogate
    EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x93\xB7"));
}

TEST(TextEncoding, DecodeTextFileFollowsTheByteOrderMark) {
    const std::vector<std::uint8_t> utf16 = {0xFF, 0xFE, 'h', 0, 'i', 0};
    EXPECT_EQ(DecodeTextFile(utf16).text, "hi");
    EXPECT_EQ(DecodeTextFile(utf16).source, DecodedText::Source::Utf16Le);
    const std::vector<std::uint8_t> utf8Bom = {0xEF, 0xBB, 0xBF, 'o', 'k'};
    EXPECT_EQ(DecodeTextFile(utf8Bom).text, "ok");
    const std::vector<std::uint8_t> latin1 = {'c', 'a', 'f', 0xE9};
    const DecodedText decoded = DecodeTextFile(latin1);
    EXPECT_EQ(decoded.source, DecodedText::Source::Latin1);
    EXPECT_EQ(decoded.text, "caf\u00e9");
}

TEST(TextEncoding, TruncationKeepsWholeCodePoints) {
    EXPECT_EQ(TruncateCodePoints("\u00e9\u00e9\u00e9", 2), "\u00e9\u00e9");
    EXPECT_EQ(TruncateCodePoints("abc", 5), "abc");
}

}  // namespace
}  // namespace duzez::platform
