#include "recovery/safe_names.h"

namespace duzez::recovery {
namespace {

// An extension longer than this is no extension worth keeping whole.
constexpr std::size_t kMaxKeptExtension = 32;

// The start of the UTF-8 sequence at or before `at`, so a cut never splits a character.
// A character is at most four bytes: bytes that are no UTF-8 are cut where they fall.
std::size_t CharacterBoundary(const std::string& text, std::size_t at) {
    for (int back = 0; back < 3 && at > 0 && at < text.size() &&
                       (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
         ++back) {
        --at;
    }
    return at;
}

// Never empty, "." or "..", which name no file of their own.
std::string NotSpecial(std::string name) {
    if (name.empty() || name == "." || name == "..")
        name.insert(name.begin(), '_');
    return name;
}

std::size_t ExtensionStart(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || name.size() - dot > kMaxKeptExtension)
        return name.size();
    return dot;
}

// `stem` cut so that stem + tail fits the limit.
std::string Fit(const std::string& stem, const std::string& tail) {
    if (stem.size() + tail.size() <= kMaxNameBytes)
        return stem + tail;
    const std::size_t room = kMaxNameBytes > tail.size() ? kMaxNameBytes - tail.size() : 0;
    return stem.substr(0, CharacterBoundary(stem, room)) + tail;
}

}  // namespace

std::string CleanComponent(std::string_view name) {
    std::string clean(name);
    for (char& c : clean) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || byte < 0x20 || byte == 0x7F)
            c = '_';
    }
    clean = NotSpecial(std::move(clean));
    const std::size_t dot = ExtensionStart(clean);
    // A name shortened to nothing but dots is special again.
    return NotSpecial(Fit(clean.substr(0, dot), clean.substr(dot)));
}

std::string NumberedName(const std::string& name, unsigned number) {
    const std::size_t dot = ExtensionStart(name);
    return NotSpecial(
        Fit(name.substr(0, dot), " (" + std::to_string(number) + ")" + name.substr(dot)));
}

}  // namespace duzez::recovery
