#include "signatures/sevenzip_end.h"

#include "signatures/zip_end.h"

namespace duzez::signatures {
namespace {

constexpr std::uint8_t kSignature[] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
constexpr std::uint64_t kStartHeader = 32;
// A larger header than this is not read to check its CRC, and so not believed.
constexpr std::uint64_t kMaxNextHeader = 16ull << 20;

}  // namespace

std::optional<std::uint64_t> SevenZipEnd(FileBytes& bytes) {
    for (std::uint64_t i = 0; i < sizeof kSignature; ++i) {
        const auto b = bytes.At(i);
        if (!b || *b != kSignature[i])
            return std::nullopt;
    }
    const auto major = bytes.At(6);
    const auto startCrc = bytes.Little32(8);
    if (!major || *major != 0 || !startCrc)
        return std::nullopt;
    if (archive_bytes::Crc32(bytes, 12, 20) != *startCrc)
        return std::nullopt;
    const auto offset = bytes.Little64(12);
    const auto size = bytes.Little64(20);
    const auto crc = bytes.Little32(28);
    const std::uint64_t limit = bytes.Limit();
    if (!offset || !size || !crc || limit < kStartHeader || *offset > limit - kStartHeader ||
        *size > limit - kStartHeader - *offset)
        return std::nullopt;
    const std::uint64_t header = kStartHeader + *offset;
    if (*size == 0)
        return *offset == 0 ? std::optional<std::uint64_t>(kStartHeader) : std::nullopt;
    if (*size > kMaxNextHeader)
        return std::nullopt;
    // A plain header or one packed into a stream.
    const auto kind = bytes.At(header);
    if (!kind || (*kind != 0x01 && *kind != 0x17))
        return std::nullopt;
    if (archive_bytes::Crc32(bytes, header, *size) != *crc)
        return std::nullopt;
    return header + *size;
}

}  // namespace duzez::signatures
