// The per-user store's file parser, fed anything: a parsed document must format to text
// that parses back to the same document.

#include <cstdint>
#include <cstdlib>

#include "platform/reg_text.h"
#include "platform/text_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace duzez::platform;
    const std::string text = DecodeTextFile({data, size}).text;
    RegDocument document;
    RegParseError error;
    if (!ParseRegText(text, document, error))
        return 0;
    RegDocument again;
    if (!ParseRegText(FormatRegText(document), again, error))
        std::abort();
    if (again.keys.size() != document.keys.size())
        std::abort();
    for (std::size_t k = 0; k < document.keys.size(); ++k) {
        const auto& a = document.keys[k].values;
        const auto& b = again.keys[k].values;
        if (a.size() != b.size())
            std::abort();
        for (std::size_t v = 0; v < a.size(); ++v) {
            if (a[v].remove != b[v].remove || (!a[v].remove && !(a[v].value == b[v].value))) {
                std::abort();
            }
        }
    }
    return 0;
}
