#include "signatures/tiff_end.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace duzez::signatures {
namespace {

// TIFF and the camera RAW formats built on it: the file ends where the furthest thing its
// IFDs point at ends (strips, tiles, the embedded JPEG preview, out-of-line values).
class TiffWalk {
  public:
    explicit TiffWalk(FileBytes& bytes) : bytes_(bytes) {}

    std::optional<std::uint64_t> End() {
        const auto order = bytes_.At(0);
        if (!order || (*order != 'I' && *order != 'M'))
            return std::nullopt;
        little_ = *order == 'I';
        const auto first = U32(4);
        if (!first)
            return std::nullopt;
        Queue(*first);
        while (!pending_.empty() && visited_.size() < kMaxIfds) {
            const std::uint64_t ifd = pending_.back();
            pending_.pop_back();
            if (std::find(visited_.begin(), visited_.end(), ifd) != visited_.end())
                continue;  // a loop in the chain
            visited_.push_back(ifd);
            if (!ReadIfd(ifd))
                return std::nullopt;
        }
        if (!sawImageData_)
            return std::nullopt;
        return end_;
    }

  private:
    static constexpr std::size_t kMaxIfds = 64;
    static constexpr std::uint32_t kMaxEntries = 4096;
    static constexpr std::uint32_t kMaxArray = 65536;

    std::optional<std::uint16_t> U16(std::uint64_t at) {
        const auto a = bytes_.At(at);
        const auto b = bytes_.At(at + 1);
        if (!a || !b)
            return std::nullopt;
        return static_cast<std::uint16_t>(little_ ? (*b << 8) | *a : (*a << 8) | *b);
    }
    std::optional<std::uint32_t> U32(std::uint64_t at) {
        return little_ ? bytes_.Little32(at) : bytes_.Big32(at);
    }
    void Queue(std::uint64_t ifd) {
        if (ifd >= 8 && ifd < bytes_.Limit())
            pending_.push_back(ifd);
    }
    // False when `end` lies beyond what the file may span.
    bool Reach(std::uint64_t end) {
        if (end > bytes_.Limit())
            return false;
        end_ = std::max(end_, end);
        return true;
    }
    // Element `i` of an array of SHORT or LONG values.
    std::optional<std::uint32_t> Element(std::uint16_t type, std::uint64_t base, std::uint32_t i) {
        if (type == 3)
            return U16(base + 2ull * i);
        return U32(base + 4ull * i);
    }
    bool ReadIfd(std::uint64_t at) {
        const auto count = U16(at);
        if (!count || *count == 0 || *count > kMaxEntries)
            return false;
        struct Array {
            std::uint16_t type;
            std::uint32_t count;
            std::uint64_t base;
        };
        std::optional<Array> offsets, lengths, tileOffsets, tileLengths;
        std::optional<std::uint32_t> preview, previewLength;
        for (std::uint32_t e = 0; e < *count; ++e) {
            const std::uint64_t entry = at + 2 + 12ull * e;
            const auto tag = U16(entry);
            const auto type = U16(entry + 2);
            const auto n = U32(entry + 4);
            const auto value = U32(entry + 8);
            if (!tag || !type || !n || !value)
                return false;
            static constexpr std::uint8_t kTypeBytes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
            const std::uint64_t unit = *type < std::size(kTypeBytes) ? kTypeBytes[*type] : 1;
            const std::uint64_t bytes = unit * *n;
            const std::uint64_t base = bytes > 4 ? *value : entry + 8;
            // A stray value beyond the bound (maker notes hold odd ones) does not decide
            // the end; image data beyond it does, below.
            if (bytes > 4)
                Reach(base + bytes);
            const bool integral = (*type == 3 || *type == 4 || *type == 13) && *n <= kMaxArray;
            const Array array{*type, *n, base};
            switch (*tag) {
                case 273:  // StripOffsets
                    if (integral)
                        offsets = array;
                    break;
                case 279:  // StripByteCounts
                    if (integral)
                        lengths = array;
                    break;
                case 324:  // TileOffsets
                    if (integral)
                        tileOffsets = array;
                    break;
                case 325:  // TileByteCounts
                    if (integral)
                        tileLengths = array;
                    break;
                case 513:  // JPEGInterchangeFormat
                    preview = *value;
                    break;
                case 514:  // JPEGInterchangeFormatLength
                    previewLength = *value;
                    break;
                case 330:    // SubIFDs
                case 34665:  // Exif IFD
                case 34853:  // GPS IFD
                    for (std::uint32_t i = 0; integral && i < *n && i < kMaxIfds; ++i) {
                        if (const auto sub = Element(*type, base, i))
                            Queue(*sub);
                    }
                    break;
                default:
                    break;
            }
        }
        if (!Extents(offsets, lengths) || !Extents(tileOffsets, tileLengths))
            return false;
        if (preview && previewLength) {
            sawImageData_ = true;
            if (!Reach(std::uint64_t{*preview} + *previewLength))
                return false;
        }
        const auto next = U32(at + 2 + 12ull * *count);
        if (!next)
            return false;
        Reach(at + 2 + 12ull * *count + 4);
        Queue(*next);
        return true;
    }
    template <typename Array>
    bool Extents(const std::optional<Array>& offsets, const std::optional<Array>& lengths) {
        if (!offsets || !lengths)
            return true;
        const std::uint32_t n = std::min(offsets->count, lengths->count);
        for (std::uint32_t i = 0; i < n; ++i) {
            const auto start = Element(offsets->type, offsets->base, i);
            const auto length = Element(lengths->type, lengths->base, i);
            if (!start || !length)
                return false;
            sawImageData_ = true;
            if (!Reach(std::uint64_t{*start} + *length))
                return false;
        }
        return true;
    }

    FileBytes& bytes_;
    bool little_ = true;
    bool sawImageData_ = false;
    std::uint64_t end_ = 0;
    std::vector<std::uint64_t> pending_;
    std::vector<std::uint64_t> visited_;
};

}  // namespace

std::optional<std::uint64_t> TiffEnd(FileBytes& bytes) {
    return TiffWalk(bytes).End();
}

}  // namespace duzez::signatures
