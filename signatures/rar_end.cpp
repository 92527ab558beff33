#include "signatures/rar_end.h"

#include <utility>

#include "signatures/zip_end.h"

namespace duzez::signatures {
namespace {

using archive_bytes::Crc32;

constexpr std::uint64_t kMaxBlocks = std::uint64_t{1} << 24;

std::optional<std::uint64_t> Rar4End(FileBytes& bytes) {
    const std::uint64_t limit = bytes.Limit();
    std::uint64_t at = 7;  // after the marker block
    for (std::uint64_t block = 0; block < kMaxBlocks; ++block) {
        const auto crc = bytes.Little16(at);
        const auto type = bytes.At(at + 2);
        const auto flags = bytes.Little16(at + 3);
        const auto size = bytes.Little16(at + 5);
        if (!crc || !type || !flags || !size || *size < 7 || *size > limit - at)
            return std::nullopt;
        if (*type < 0x73 || *type > 0x7B || (block == 0 && *type != 0x73))
            return std::nullopt;
        // Authenticity blocks do not carry a usable CRC.
        if (*type != 0x76 && *type != 0x79) {
            const auto whole = Crc32(bytes, at + 2, *size - 2u);
            if (!whole || (*whole & 0xFFFF) != *crc) {
                // Old archive headers with a comment count only their fixed part.
                const auto fixed =
                    *type == 0x73 && *size >= 13 ? Crc32(bytes, at + 2, 11) : std::nullopt;
                if (!fixed || (*fixed & 0xFFFF) != *crc)
                    return std::nullopt;
            }
        }
        if (*type == 0x73 && (*flags & 0x0080))
            return std::nullopt;  // encrypted headers
        std::uint64_t data = 0;
        if (*type == 0x74 || *type == 0x7A) {
            // File and service headers: the packed size, with its high half when large.
            const auto low = bytes.Little32(at + 7);
            if (*size < 32 || !low)
                return std::nullopt;
            data = *low;
            if (*flags & 0x0100) {
                const auto high = bytes.Little32(at + 32);
                if (*size < 40 || !high)
                    return std::nullopt;
                data |= std::uint64_t{*high} << 32;
            }
        } else if (*flags & 0x8000) {
            const auto add = bytes.Little32(at + 7);
            if (*size < 11 || !add)
                return std::nullopt;
            data = *add;
        }
        if (data > limit - at - *size)
            return std::nullopt;
        at += *size + data;
        if (*type == 0x7B)
            return at;
    }
    return std::nullopt;
}

// A RAR 5 variable-length integer at `at`: its value and its length.
std::optional<std::pair<std::uint64_t, std::uint64_t>> Vint(FileBytes& bytes, std::uint64_t at,
                                                            std::uint64_t end) {
    std::uint64_t value = 0;
    for (std::uint64_t i = 0; i < 10 && at + i < end; ++i) {
        const auto b = bytes.At(at + i);
        if (!b)
            return std::nullopt;
        const std::uint64_t bits = *b & 0x7F;
        if (i == 9 && bits > 1)
            return std::nullopt;  // beyond 64 bits
        value |= bits << (7 * i);
        if ((*b & 0x80) == 0)
            return std::pair{value, i + 1};
    }
    return std::nullopt;
}

std::optional<std::uint64_t> Rar5End(FileBytes& bytes) {
    const std::uint64_t limit = bytes.Limit();
    // Headers are at most 2 MiB.
    constexpr std::uint64_t kMaxHeader = 2ull << 20;
    std::uint64_t at = 8;  // after the signature
    for (std::uint64_t block = 0; block < kMaxBlocks; ++block) {
        const auto crc = bytes.Little32(at);
        if (!crc)
            return std::nullopt;
        const auto headerSize = Vint(bytes, at + 4, limit);
        if (!headerSize || headerSize->first < 2 || headerSize->first > kMaxHeader)
            return std::nullopt;
        const std::uint64_t header = at + 4 + headerSize->second;
        if (header > limit || headerSize->first > limit - header)
            return std::nullopt;
        const std::uint64_t headerEnd = header + headerSize->first;
        if (Crc32(bytes, at + 4, headerSize->second + headerSize->first) != *crc)
            return std::nullopt;
        const auto type = Vint(bytes, header, headerEnd);
        if (!type)
            return std::nullopt;
        const auto flags = Vint(bytes, header + type->second, headerEnd);
        if (!flags)
            return std::nullopt;
        std::uint64_t p = header + type->second + flags->second;
        if (flags->first & 0x0001) {
            const auto extra = Vint(bytes, p, headerEnd);
            if (!extra)
                return std::nullopt;
            p += extra->second;
        }
        std::uint64_t data = 0;
        if (flags->first & 0x0002) {
            const auto size = Vint(bytes, p, headerEnd);
            if (!size)
                return std::nullopt;
            data = size->first;
        }
        // 1 main, 2 file, 3 service, 4 encryption, 5 end; the main header (or the
        // encryption one) comes first.
        const std::uint64_t kind = type->first;
        if (block == 0 && kind != 1 && kind != 4)
            return std::nullopt;
        if (kind == 4)
            return std::nullopt;  // the headers after it are encrypted
        if (kind == 0 || (kind > 5 && (flags->first & 0x0004) == 0))
            return std::nullopt;
        if (data > limit - headerEnd)
            return std::nullopt;
        at = headerEnd + data;
        if (kind == 5)
            return at;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::uint64_t> RarEnd(FileBytes& bytes) {
    static constexpr std::uint8_t kMarker[] = {'R', 'a', 'r', '!', 0x1A, 0x07};
    for (std::uint64_t i = 0; i < sizeof kMarker; ++i) {
        const auto b = bytes.At(i);
        if (!b || *b != kMarker[i])
            return std::nullopt;
    }
    const auto version = bytes.At(6);
    if (version && *version == 0x00)
        return Rar4End(bytes);
    const auto zero = bytes.At(7);
    if (version && *version == 0x01 && zero && *zero == 0x00)
        return Rar5End(bytes);
    return std::nullopt;
}

}  // namespace duzez::signatures
