#pragma once

// Text from a disk (file names, labels) on its way to a terminal. A name is whatever bytes
// the disk holds: written raw, an escape sequence in it could move the cursor, rewrite
// what was printed before or retitle the window.

#include <string>
#include <string_view>

namespace duzez::cli {

// `text` with every control character written as an escape: a byte below 0x20 and 0x7f as
// "\x1b", a C1 control (U+0080 to U+009F, which some terminals obey) as "\u009b". All else,
// UTF-8 included, passes unchanged.
inline std::string TerminalText(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7f) {
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 0x0f];
            continue;
        }
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (byte == 0xc2 && next >= 0x80 && next <= 0x9f) {
            shown += "\\u00";
            shown += kHex[next >> 4];
            shown += kHex[next & 0x0f];
            ++i;
            continue;
        }
        shown += text[i];
    }
    return shown;
}

}  // namespace duzez::cli
