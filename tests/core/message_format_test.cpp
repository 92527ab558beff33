#include "core/message_format.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/string_table.h"

namespace duzez::core {
namespace {

TEST(MessageFormat, EveryConversionWithItsType) {
    EXPECT_EQ(FormatChecked("%s|%d|%u|%x|%c|%C|%%", {"txt", -5, 7u, 255u, 'C', char32_t{0x00e9}}),
              "txt|-5|7|ff|C|\u00e9|%");
    EXPECT_EQ(FormatChecked("%I64d %I64x %I64u", {-1ll, 0xABCDEF0123ull, 18446744073709551615ull}),
              "-1 abcdef0123 18446744073709551615");
    EXPECT_EQ(FormatChecked("no conversions", {}), "no conversions");
}

TEST(MessageFormat, MismatchesAreRefused) {
    EXPECT_FALSE(FormatChecked("%s", {42}));
    EXPECT_FALSE(FormatChecked("%d", {"text"}));
    EXPECT_FALSE(FormatChecked("%d", {1ll}));   // 64-bit value for a 32-bit conversion
    EXPECT_FALSE(FormatChecked("%I64d", {1}));  // and the other way round
    EXPECT_FALSE(FormatChecked("%c", {65}));
    EXPECT_FALSE(FormatChecked("%s %s", {"one"}));  // missing argument
    EXPECT_FALSE(FormatChecked("%n", {"x"}));
    EXPECT_FALSE(FormatChecked("%08x", {1u}));  // widths are not accepted
    EXPECT_FALSE(FormatChecked("100%", {}));
    EXPECT_FALSE(FormatChecked("%I64", {1ll}));
    EXPECT_FALSE(FormatChecked("%I64s", {1ll}));
}

TEST(MessageFormat, TextArgumentsAreCopiedNotInterpreted) {
    EXPECT_EQ(FormatChecked("[%s]", {"%s%n%d"}), "[%s%n%d]");
    EXPECT_EQ(FormatChecked("%s", {std::string_view("a\0b", 3)}), std::string("a\0b", 3));
}

// Each built-in text formats with arguments of the types its conversions name, so no
// built-in text can be the cause of a fallback.
TEST(MessageFormat, EveryBuiltInTextIsWellFormed) {
    for (const BuiltinString& entry : BuiltinStrings()) {
        std::vector<FormatArg> args;
        const std::string_view text = entry.text;
        for (std::size_t i = 0; i + 1 < text.size(); ++i) {
            if (text[i] != '%')
                continue;
            const char next = text[++i];
            if (next == '%')
                continue;
            if (next == 's')
                args.emplace_back("x");
            if (next == 'd' || next == 'u' || next == 'x')
                args.emplace_back(1);
            if (next == 'c' || next == 'C')
                args.emplace_back('x');
            if (next == 'I')
                args.emplace_back(1ll);
        }
        EXPECT_TRUE(FormatChecked(entry.text, args)) << static_cast<std::uint32_t>(entry.id);
    }
}

TEST(StringTable, LooksUpByIdentifier) {
    EXPECT_EQ(BuiltinText(StringId::InitializingDrive), "Initializing drive %s");
    EXPECT_EQ(BuiltinText(57345), "Ready");
    EXPECT_EQ(BuiltinText(132),
              "You are copying a large amount of data to the clipboard.\r\n"
              "Are you sure you want to do this?");
    EXPECT_FALSE(BuiltinText(1));
    EXPECT_FALSE(BuiltinText(57346));
}

}  // namespace
}  // namespace duzez::core
