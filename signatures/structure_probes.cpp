#include "signatures/structure_probes.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace duzez::signatures {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

// The volume's bytes from a file's start, read a window of sectors at a time.
class FileBytes {
  public:
    FileBytes(std::uint64_t start, std::uint64_t limit, const SectorReader& read)
        : start_(start), limit_(limit), read_(read) {}

    // The byte at `offset` from the file's start; nullopt beyond the limit or on a read error.
    std::optional<std::uint8_t> At(std::uint64_t offset) {
        if (offset >= limit_)
            return std::nullopt;
        const std::uint64_t absolute = start_ + offset;
        if (absolute < windowStart_ || absolute >= windowStart_ + window_.size()) {
            windowStart_ = absolute / 512 * 512;
            window_.resize(kWindow);
            if (read_(window_, windowStart_ / 512, kWindow / 512) == 0) {
                window_.clear();
                return std::nullopt;
            }
        }
        return window_[absolute - windowStart_];
    }
    std::optional<std::uint32_t> Big32(std::uint64_t offset) {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const auto b = At(offset + static_cast<std::uint64_t>(i));
            if (!b)
                return std::nullopt;
            value = (value << 8) | *b;
        }
        return value;
    }
    std::optional<std::uint16_t> Big16(std::uint64_t offset) {
        const auto hi = At(offset);
        const auto lo = At(offset + 1);
        if (!hi || !lo)
            return std::nullopt;
        return static_cast<std::uint16_t>((*hi << 8) | *lo);
    }
    std::uint64_t Limit() const { return limit_; }
    std::optional<std::uint32_t> Little32(std::uint64_t offset) {
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i) {
            const auto b = At(offset + static_cast<std::uint64_t>(i));
            if (!b)
                return std::nullopt;
            value = (value << 8) | *b;
        }
        return value;
    }

  private:
    static constexpr std::size_t kWindow = 65536;
    std::uint64_t start_;
    std::uint64_t limit_;
    const SectorReader& read_;
    std::vector<std::uint8_t> window_;
    std::uint64_t windowStart_ = 0;
};

std::optional<std::uint64_t> JpegEnd(FileBytes& bytes) {
    std::uint64_t at = 2;  // after FF D8
    while (true) {
        const auto ff = bytes.At(at);
        if (!ff || *ff != 0xFF)
            return std::nullopt;
        auto marker = bytes.At(at + 1);
        while (marker && *marker == 0xFF) {  // fill bytes
            ++at;
            marker = bytes.At(at + 1);
        }
        if (!marker)
            return std::nullopt;
        if (*marker == 0xD9)
            return at + 2;
        if ((*marker >= 0xD0 && *marker <= 0xD7) || *marker == 0x01) {
            at += 2;
            continue;
        }
        const auto length = bytes.Big16(at + 2);
        if (!length || *length < 2)
            return std::nullopt;
        at += 2 + *length;
        if (*marker != 0xDA)
            continue;
        // Entropy-coded data: runs to the next marker that is not a stuffed zero or a
        // restart.
        while (true) {
            const auto b = bytes.At(at);
            if (!b)
                return std::nullopt;
            if (*b == 0xFF) {
                const auto next = bytes.At(at + 1);
                if (!next)
                    return std::nullopt;
                if (*next != 0x00 && !(*next >= 0xD0 && *next <= 0xD7) && *next != 0xFF)
                    break;
                at += *next == 0xFF ? 1 : 2;
                continue;
            }
            ++at;
        }
    }
}

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

// Top-level boxes from the start; the end of the last box that reads as one.
std::optional<std::uint64_t> IsoMediaEnd(FileBytes& bytes, std::uint64_t limit) {
    std::uint64_t at = 0;
    bool sawMedia = false;
    for (int boxes = 0; boxes < 100000; ++boxes) {
        const auto size32 = bytes.Big32(at);
        const auto type = bytes.Big32(at + 4);
        if (!size32 || !type)
            break;
        bool printable = true;
        for (int i = 0; i < 4; ++i) {
            const auto c = static_cast<unsigned>((*type >> (24 - 8 * i)) & 0xFF);
            printable = printable && c >= 0x20 && c < 0x7F;
        }
        if (!printable)
            break;
        std::uint64_t size = *size32;
        if (size == 1) {
            const auto high = bytes.Big32(at + 8);
            const auto low = bytes.Big32(at + 12);
            if (!high || !low)
                break;
            size = (std::uint64_t{*high} << 32) | *low;
        }
        if (size < 8 || size > limit - at)
            break;  // 0 ("to the end") cannot be checked
        if (*type == 0x6D646174 || *type == 0x6D6F6F76)
            sawMedia = true;  // mdat, moov
        at += size;
        if (at == limit)
            break;
    }
    if (!sawMedia || at == 0)
        return std::nullopt;
    return at;
}

std::optional<std::uint64_t> WalkToEnd(std::int32_t formatId, std::uint64_t start,
                                       std::uint64_t volumeSize, const SectorReader& read) {
    const std::uint64_t room = volumeSize - start;
    const auto bounded = [room](std::uint64_t limit) { return std::min(room, limit); };
    switch (formatId) {
        case 300: {  // JPEG
            FileBytes bytes(start, bounded(256 * kMiB), read);
            return JpegEnd(bytes);
        }
        case 301: {  // PNG
            FileBytes bytes(start, bounded(512 * kMiB), read);
            return PngEnd(bytes);
        }
        case 302: {  // GIF
            FileBytes bytes(start, bounded(256 * kMiB), read);
            return GifEnd(bytes);
        }
        case 303:    // TIFF, NEF, ARW, PEF, DNG
        case 310:    // CR2
        case 312:    // ORF
        case 313: {  // RW2
            FileBytes bytes(start, bounded(1024 * kMiB), read);
            return TiffWalk(bytes).End();
        }
        case 403:    // AVI
        case 410: {  // WAVE
            FileBytes bytes(start, bounded(12), read);
            const auto size = bytes.Little32(4);
            if (!size || std::uint64_t{*size} + 8 > room)
                return std::nullopt;
            return std::uint64_t{*size} + 8;
        }
        case 400:    // MPEG-4
        case 401:    // QuickTime
        case 402:    // 3GPP
        case 317: {  // HEIF
            const std::uint64_t limit = bounded(64ull * 1024 * kMiB);
            FileBytes bytes(start, limit, read);
            return IsoMediaEnd(bytes, limit);
        }
        default:
            return std::nullopt;
    }
}

}  // namespace

std::optional<std::uint64_t> FindStructuralEnd(std::int32_t formatId, std::uint64_t start,
                                               std::uint64_t volumeSize, const SectorReader& read) {
    if (start >= volumeSize)
        return std::nullopt;
    const auto end = WalkToEnd(formatId, start, volumeSize, read);
    // Whatever a walk concludes, a file cannot end beyond the volume.
    if (end && *end > volumeSize - start)
        return std::nullopt;
    return end;
}

}  // namespace duzez::signatures
