#include "signatures/image_ends.h"

namespace duzez::signatures {
namespace {

std::optional<std::uint64_t> SkipSubBlocks(FileBytes& bytes, std::uint64_t at) {
    while (true) {
        const auto size = bytes.At(at);
        if (!size)
            return std::nullopt;
        at += 1 + *size;
        if (*size == 0)
            return at;
    }
}

}  // namespace

std::optional<std::uint64_t> PngEnd(FileBytes& bytes) {
    std::uint64_t at = 8;
    for (int chunks = 0; chunks < 1000000; ++chunks) {
        const auto length = bytes.Big32(at);
        const auto type = bytes.Big32(at + 4);
        if (!length || !type || *length > 0x7FFFFFFF)
            return std::nullopt;
        for (int i = 0; i < 4; ++i) {
            const auto c = static_cast<char>((*type >> (24 - 8 * i)) & 0xFF);
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
                return std::nullopt;
        }
        at += 12 + std::uint64_t{*length};
        if (at > bytes.Limit())
            return std::nullopt;  // a chunk that runs past the volume
        if (*type == 0x49454E44)
            return at;  // IEND
    }
    return std::nullopt;
}

std::optional<std::uint64_t> GifEnd(FileBytes& bytes) {
    const auto flags = bytes.At(10);
    if (!flags)
        return std::nullopt;
    std::uint64_t at = 13;
    if (*flags & 0x80)
        at += 3ull << ((*flags & 7) + 1);
    while (true) {
        const auto block = bytes.At(at);
        if (!block)
            return std::nullopt;
        if (*block == 0x3B)
            return at + 1;
        if (*block == 0x21) {
            const auto end = SkipSubBlocks(bytes, at + 2);
            if (!end)
                return std::nullopt;
            at = *end;
        } else if (*block == 0x2C) {
            const auto local = bytes.At(at + 9);
            if (!local)
                return std::nullopt;
            at += 10;
            if (*local & 0x80)
                at += 3ull << ((*local & 7) + 1);
            const auto end = SkipSubBlocks(bytes, at + 1);  // after the LZW code size
            if (!end)
                return std::nullopt;
            at = *end;
        } else {
            return std::nullopt;
        }
    }
}

}  // namespace duzez::signatures
