#pragma once

// Conversions between the UTF-8 text the program keeps in memory and the UTF-16LE text
// of stored records and Windows-made files.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace duzez::platform {

// UTF-16LE bytes (odd trailing byte ignored) to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16LeToUtf8(std::span<const std::uint8_t> bytes);
std::string Utf16ToUtf8(std::span<const char16_t> units);

// UTF-8 to UTF-16 code units; invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::vector<std::uint8_t> Utf8ToUtf16Le(std::string_view text);

bool IsValidUtf8(std::string_view text);
void AppendUtf8(std::string& out, char32_t codePoint);

// Text of a file written by a person or by another program: a UTF-16LE or UTF-8 byte-order
// mark decides; otherwise valid UTF-8 is taken as it is and anything else as Latin-1, so
// that no input yields invalid UTF-8 in memory.
struct DecodedText {
    std::string text;
    enum class Source { Utf8, Utf16Le, Latin1 } source = Source::Utf8;
};
DecodedText DecodeTextFile(std::span<const std::uint8_t> bytes);

char AsciiLower(char c);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Truncates UTF-8 text to at most maxCodePoints code points without splitting one.
std::string TruncateCodePoints(std::string_view text, std::size_t maxCodePoints);

}  // namespace duzez::platform
