#include "cli/terminal_width.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace duzez::cli {
namespace {

// Columns of one code point, roughly as terminals draw it: wide East Asian characters and
// emoji two, combining marks and zero-width characters none.
std::size_t CodePointColumns(std::uint32_t cp) {
    if ((cp >= 0x0300 && cp <= 0x036f) || (cp >= 0x200b && cp <= 0x200f) ||
        (cp >= 0xfe00 && cp <= 0xfe0f)) {
        return 0;
    }
    if ((cp >= 0x1100 && cp <= 0x115f) || (cp >= 0x2e80 && cp <= 0xa4cf) ||
        (cp >= 0xac00 && cp <= 0xd7a3) || (cp >= 0xf900 && cp <= 0xfaff) ||
        (cp >= 0xfe30 && cp <= 0xfe4f) || (cp >= 0xff00 && cp <= 0xff60) ||
        (cp >= 0xffe0 && cp <= 0xffe6) || (cp >= 0x1f300 && cp <= 0x1faff) ||
        (cp >= 0x20000 && cp <= 0x3fffd)) {
        return 2;
    }
    return 1;
}

struct Glyph {
    std::size_t bytes = 1;
    std::size_t columns = 1;
};

// The character at `at`; a byte that starts no valid UTF-8 sequence is one of its own.
Glyph GlyphAt(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80                   ? 1
                               : lead >= 0xc2 && lead < 0xe0 ? 2
                               : lead >= 0xe0 && lead < 0xf0 ? 3
                               : lead >= 0xf0 && lead < 0xf5 ? 4
                                                             : 0;
    if (length <= 1 || at + length > text.size())
        return {};
    std::uint32_t cp = lead & (0x7fu >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xc0) != 0x80)
            return {};
        cp = cp << 6 | (next & 0x3fu);
    }
    return {length, CodePointColumns(cp)};
}

}  // namespace

std::optional<std::size_t> TerminalColumns(int fd) {
    if (::isatty(fd) == 0)
        return std::nullopt;
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    if (const char* columns = std::getenv("COLUMNS"); columns != nullptr) {
        std::size_t value = 0;
        const char* end = columns + std::strlen(columns);
        const auto [last, error] = std::from_chars(columns, end, value);
        if (error == std::errc() && last == end && value > 0 && value < 100000)
            return value;
    }
    return 80;
}

std::size_t ColumnsOf(std::string_view text) {
    std::size_t columns = 0;
    for (std::size_t at = 0; at < text.size();) {
        const Glyph glyph = GlyphAt(text, at);
        columns += glyph.columns;
        at += glyph.bytes;
    }
    return columns;
}

std::string FitColumns(std::string_view text, std::size_t columns) {
    if (ColumnsOf(text) <= columns)
        return std::string(text);
    if (columns < 3)
        return std::string(columns, '.');
    std::size_t used = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        const Glyph glyph = GlyphAt(text, at);
        if (used + glyph.columns > columns - 3)
            break;
        used += glyph.columns;
        at += glyph.bytes;
    }
    return std::string(text.substr(0, at)) + "...";
}

std::string ShortenMiddle(std::string_view text, std::size_t columns) {
    if (ColumnsOf(text) <= columns)
        return std::string(text);
    if (columns == 0)
        return {};
    std::vector<Glyph> glyphs;
    for (std::size_t at = 0; at < text.size(); at += glyphs.back().bytes)
        glyphs.push_back(GlyphAt(text, at));
    const std::size_t keep = columns - 1;  // the ellipsis takes one
    std::size_t headColumns = 0;
    std::size_t headBytes = 0;
    for (const Glyph& glyph : glyphs) {
        if (headColumns + glyph.columns > keep / 2)
            break;
        headColumns += glyph.columns;
        headBytes += glyph.bytes;
    }
    std::size_t tailColumns = 0;
    std::size_t tailBytes = 0;
    for (auto glyph = glyphs.rbegin(); glyph != glyphs.rend(); ++glyph) {
        if (headColumns + tailColumns + glyph->columns > keep)
            break;
        tailColumns += glyph->columns;
        tailBytes += glyph->bytes;
    }
    return std::string(text.substr(0, headBytes)) + "\u2026" +
           std::string(text.substr(text.size() - tailBytes));
}

}  // namespace duzez::cli
