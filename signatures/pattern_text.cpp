#include <charconv>

#include "platform/text_encoding.h"
#include "signatures/signature.h"

namespace duzez::signatures {
namespace {

// Decimal, or hexadecimal after '$' with an optional 0x; reading stops at the first
// character that is not a digit. False when no digit was read.
bool ReadNumber(std::string_view text, int base, long long& value) {
    if (base == 16 && text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
    }
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return result.ptr != text.data() && result.ec == std::errc();
}

void ApplyItem(std::string_view item, SignaturePattern& pattern, std::size_t& end) {
    long long offset = 0;
    std::string_view value = item;
    if (const std::size_t equals = item.find('='); equals != std::string_view::npos) {
        const std::string_view offsetText = item.substr(0, equals);
        // A non-numeric offset is malformed; the item is skipped.
        if (!ReadNumber(offsetText, 10, offset))
            return;
        value = item.substr(equals + 1);
    }
    while (!value.empty() && value.back() == ',')
        value.remove_suffix(1);
    if (offset < 0 || value.empty())
        return;
    const auto at = static_cast<std::size_t>(offset);
    const char form = value.front();
    if (form == '"' || form == '\'') {
        if (value.size() < 2)
            return;
        // One byte per UTF-16 unit, its low byte, as the files were written: a non-ASCII
        // character must not shift the positions after it by its UTF-8 length.
        const std::u16string units = platform::Utf8ToUtf16(value.substr(1, value.size() - 2));
        if (offset >= static_cast<long long>(kSectorBytes) || at + units.size() >= kSectorBytes) {
            return;
        }
        for (std::size_t i = 0; i < units.size(); ++i) {
            pattern.Value[at + i] = static_cast<std::uint8_t>(units[i] & 0xFF);
            pattern.Mask[at + i] = 0xFF;
        }
        end = std::max(end, at + units.size());
    } else if (form == '#' || form == '$') {
        long long number = 0;
        if (!ReadNumber(value.substr(1), form == '#' ? 10 : 16, number))
            return;
        if (at >= kSectorBytes || number < 0 || number >= 256)
            return;
        pattern.Value[at] = static_cast<std::uint8_t>(number);
        pattern.Mask[at] = 0xFF;
        end = std::max(end, at + 1);
    }
}

}  // namespace

std::optional<SignaturePattern> ParsePatternText(std::string_view text) {
    if (text.empty())
        return std::nullopt;
    std::string compact;
    compact.reserve(text.size());
    for (const char c : text) {
        if (c != ' ')
            compact.push_back(c);
    }
    SignaturePattern pattern;
    std::size_t end = 0;
    std::string_view rest = compact;
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        if (!item.empty())
            ApplyItem(item, pattern, end);
        if (comma == std::string_view::npos)
            break;
        rest.remove_prefix(comma + 1);
    }
    pattern.CompareLength = static_cast<std::uint16_t>(end);
    return pattern;
}

bool SignaturePattern::Matches(std::span<const std::uint8_t, kSectorBytes> sector) const {
    const std::size_t length = std::min<std::size_t>(CompareLength, kSectorBytes);
    for (std::size_t j = 0; j < length; ++j) {
        if (Mask[j] == 0)
            continue;
        if (CheckByBits) {
            if ((Value[j] & Mask[j] & sector[j]) != 0)
                return false;
        } else if (sector[j] != Value[j]) {
            return false;
        }
    }
    return true;
}

std::string Signature::FirstExtensionOf(std::string_view extensions) {
    const std::size_t cut = extensions.find_first_of(";,");
    std::string_view first =
        (cut == std::string_view::npos || cut == 0) ? extensions : extensions.substr(0, cut);
    return std::string(first.substr(0, 99));
}

}  // namespace duzez::signatures
