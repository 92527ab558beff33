#include "signatures/ogg_end.h"

#include <algorithm>
#include <array>
#include <vector>

namespace duzez::signatures {
namespace {

constexpr std::size_t kMaxStreams = 64;
constexpr std::uint8_t kContinued = 0x01;
constexpr std::uint8_t kBegins = 0x02;
constexpr std::uint8_t kEnds = 0x04;

// Ogg's CRC-32: polynomial 0x04C11DB7, most significant bit first, starting from 0, no
// final inversion.
constexpr std::array<std::uint32_t, 256> kCrcTable = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t r = i << 24;
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
        table[i] = r;
    }
    return table;
}();

struct Page {
    std::uint64_t size = 0;
    std::uint8_t flags = 0;
    std::uint32_t serial = 0;
    std::uint32_t sequence = 0;
};

// The page at `at`, whole within the bound and with its CRC right.
std::optional<Page> ReadPage(FileBytes& bytes, std::uint64_t at) {
    const auto magic = bytes.Big32(at);
    const auto version = bytes.At(at + 4);
    const auto flags = bytes.At(at + 5);
    const auto serial = bytes.Little32(at + 14);
    const auto sequence = bytes.Little32(at + 18);
    const auto stored = bytes.Little32(at + 22);
    const auto segments = bytes.At(at + 26);
    if (magic != 0x4F676753u || version != 0 || !flags || (*flags & ~0x07) != 0 || !serial ||
        !sequence || !stored || !segments)
        return std::nullopt;
    std::uint64_t body = 0;
    for (std::uint64_t i = 0; i < *segments; ++i) {
        const auto lace = bytes.At(at + 27 + i);
        if (!lace)
            return std::nullopt;
        body += *lace;
    }
    const std::uint64_t size = 27 + *segments + body;
    if (size > bytes.Limit() - at)
        return std::nullopt;
    std::uint32_t crc = 0;
    for (std::uint64_t i = 0; i < size; ++i) {
        const auto b = bytes.At(at + i);
        if (!b)
            return std::nullopt;
        const std::uint8_t value = (i >= 22 && i < 26) ? 0 : *b;  // the CRC field counts as zero
        crc = (crc << 8) ^ kCrcTable[((crc >> 24) ^ value) & 0xFF];
    }
    if (crc != *stored)
        return std::nullopt;
    return Page{size, *flags, *serial, *sequence};
}

struct Stream {
    std::uint32_t serial;
    std::uint32_t next;  // the page sequence number expected next
    bool ended;
};

}  // namespace

std::optional<std::uint64_t> OggEnd(FileBytes& bytes) {
    std::vector<Stream> streams;
    std::size_t open = 0;
    std::uint64_t at = 0;
    // Every page takes at least 27 bytes, so the bound ends the loop.
    while (at < bytes.Limit()) {
        const auto page = ReadPage(bytes, at);
        if (!page)
            return std::nullopt;
        auto stream = std::find_if(streams.begin(), streams.end(),
                                   [&page](const Stream& s) { return s.serial == page->serial; });
        if (page->flags & kBegins) {
            if (stream != streams.end() || streams.size() >= kMaxStreams ||
                (page->flags & kContinued))
                return std::nullopt;
            streams.push_back(Stream{page->serial, page->sequence, false});
            stream = streams.end() - 1;
            ++open;
        } else if (stream == streams.end() || stream->ended) {
            return std::nullopt;  // a page of no stream begun here
        }
        if (page->sequence != stream->next)
            return std::nullopt;  // a lost or foreign page
        stream->next = page->sequence + 1;
        at += page->size;
        if (page->flags & kEnds) {
            stream->ended = true;
            if (--open == 0)
                return at;
        }
    }
    return std::nullopt;
}

}  // namespace duzez::signatures
