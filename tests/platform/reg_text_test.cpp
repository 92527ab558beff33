#include "platform/reg_text.h"

#include <gtest/gtest.h>

namespace duzez::platform {
namespace {

RegDocument ParseOk(std::string_view text) {
    RegDocument doc;
    RegParseError error;
    EXPECT_TRUE(ParseRegText(text, doc, error)) << "line " << error.line << ": " << error.message;
    return doc;
}

RegParseError ParseFails(std::string_view text) {
    RegDocument doc;
    RegParseError error;
    EXPECT_FALSE(ParseRegText(text, doc, error));
    return error;
}

TEST(RegText, ParsesEveryValueForm) {
    const RegDocument doc = ParseOk(
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "; a comment\r\n"
        "[HKEY_CURRENT_USER\\Software\\Quarnel\\Duzez\\1.0\\Signatures\\001 JPEG]\r\n"
        "@=\"default text\"\r\n"
        "\"Title\"=\"JPEG \\\"Exif\\\" C:\\\\photos\"\r\n"
        "\"FormatId\"=dword:0000012c\r\n"
        "\"Blob\"=hex:00,ff,10,\\\r\n"
        "  20,30\r\n"
        "\"Empty\"=hex:\r\n"
        "\"Expand\"=hex(2):41,00,00,00\r\n"
        "\"Gone\"=-\r\n");
    ASSERT_EQ(doc.keys.size(), 1u);
    const RegKeyEntry& key = doc.keys[0];
    EXPECT_EQ(key.path, "Software\\Quarnel\\Duzez\\1.0\\Signatures\\001 JPEG");
    ASSERT_EQ(key.values.size(), 7u);
    EXPECT_EQ(key.values[0].name, "");
    EXPECT_EQ(key.values[0].value.AsString(), "default text");
    EXPECT_EQ(key.values[1].value.AsString(), "JPEG \"Exif\" C:\\photos");
    EXPECT_EQ(key.values[2].value.AsDword(), 300u);
    EXPECT_EQ(key.values[3].value.type, RegType::Binary);
    EXPECT_EQ(key.values[3].value.data, (std::vector<std::uint8_t>{0x00, 0xff, 0x10, 0x20, 0x30}));
    EXPECT_TRUE(key.values[4].value.data.empty());
    EXPECT_EQ(key.values[5].value.type, RegType::ExpandString);
    EXPECT_EQ(key.values[5].value.AsString(), "A");
    EXPECT_TRUE(key.values[6].remove);
}

TEST(RegText, AcceptsShortRootAndKeyDeletion) {
    const RegDocument doc = ParseOk("REGEDIT4\n[-HKCU\\Software\\Old]\n[hkey_current_user]\n");
    ASSERT_EQ(doc.keys.size(), 2u);
    EXPECT_TRUE(doc.keys[0].remove);
    EXPECT_EQ(doc.keys[0].path, "Software\\Old");
    EXPECT_EQ(doc.keys[1].path, "");
}

TEST(RegText, FormattedTextParsesBackToTheSameValues) {
    RegDocument doc;
    RegKeyEntry key{"Software\\Test", false, {}};
    std::vector<std::uint8_t> big(1000);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i * 7);
    key.values.push_back({"", false, RegValue::FromString("d\u00e9faut \u6f22\u5b57 \U0001F4F7")});
    key.values.push_back({"Quote\"And\\Slash", false, RegValue::FromString("a\"b\\c")});
    key.values.push_back({"MultiLine", false, RegValue::FromString("line one\nline two")});
    key.values.push_back({"Number", false, RegValue::FromDword(0xDEADBEEF)});
    key.values.push_back({"Big", false, RegValue::FromBinary(big)});
    key.values.push_back({"Qword", false, {RegType::Qword, {1, 2, 3, 4, 5, 6, 7, 8}}});
    key.values.push_back({"Odd string", false, {RegType::String, {0x41, 0x00, 0x42}}});
    doc.keys.push_back(key);

    const RegDocument back = ParseOk(FormatRegText(doc));
    ASSERT_EQ(back.keys.size(), 1u);
    EXPECT_EQ(back.keys[0].path, key.path);
    ASSERT_EQ(back.keys[0].values.size(), key.values.size());
    for (std::size_t i = 0; i < key.values.size(); ++i) {
        EXPECT_EQ(back.keys[0].values[i].name, key.values[i].name) << i;
        EXPECT_EQ(back.keys[0].values[i].value, key.values[i].value) << key.values[i].name;
    }
}

TEST(RegText, LongBinaryValuesAreWrappedIntoShortLines) {
    RegDocument doc;
    doc.keys.push_back(
        {"K", false, {{"V", false, RegValue::FromBinary(std::vector<std::uint8_t>(500))}}});
    const std::string text = FormatRegText(doc);
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        EXPECT_LE(end - start, 90u);
        start = end + 1;
    }
}

TEST(RegText, ErrorsNameTheLineAndTheProblem) {
    EXPECT_EQ(ParseFails("").line, 0);
    EXPECT_EQ(ParseFails("not a registry file\n").line, 1);
    EXPECT_EQ(ParseFails("REGEDIT4\n\"v\"=dword:1\n").line, 2);  // value before any key
    const RegParseError machine = ParseFails("REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software]\n");
    EXPECT_EQ(machine.line, 2);
    EXPECT_NE(machine.message.find("HKEY_CURRENT_USER"), std::string::npos);
    EXPECT_EQ(ParseFails("REGEDIT4\n[HKCU\\A]\n\"v\"=hex:0g\n").line, 3);
    EXPECT_EQ(ParseFails("REGEDIT4\n[HKCU\\A]\n\"v\"=hex:123\n").line, 3);
    EXPECT_EQ(ParseFails("REGEDIT4\n[HKCU\\A]\n\"v\"=dword:123456789\n").line, 3);
    EXPECT_EQ(ParseFails("REGEDIT4\n[HKCU\\A]\n\"v=\"x\"\n").line, 3);
    EXPECT_EQ(ParseFails("REGEDIT4\n[HKCU\\A]\n\"v\"=\"x\" trailing\n").line, 3);
    EXPECT_EQ(ParseFails("REGEDIT4\n[HKCU\\A]\n\"v\"=hex:00,\\\n").line, 3);  // ends mid-value
    EXPECT_EQ(ParseFails("REGEDIT4\n[HKCU\\A\\\\B]\n").line, 2);
    EXPECT_EQ(ParseFails("REGEDIT4\n[HKCU\\A\n").line, 2);
}

}  // namespace
}  // namespace duzez::platform
