#include "signatures/zip_end.h"

#include <algorithm>
#include <array>
#include <vector>

namespace duzez::signatures {

namespace archive_bytes {
namespace {

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}
constexpr auto kCrcTable = MakeCrcTable();

}  // namespace

std::optional<std::uint32_t> Crc32(FileBytes& bytes, std::uint64_t offset, std::uint64_t length) {
    if (offset > bytes.Limit() || length > bytes.Limit() - offset)
        return std::nullopt;
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint64_t i = 0; i < length; ++i) {
        const auto b = bytes.At(offset + i);
        if (!b)
            return std::nullopt;
        crc = kCrcTable[(crc ^ *b) & 0xFF] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFu;
}

}  // namespace archive_bytes

namespace {

constexpr std::uint32_t kLocal = 0x04034B50;
constexpr std::uint32_t kCentral = 0x02014B50;
constexpr std::uint32_t kDigitalSignature = 0x05054B50;
constexpr std::uint32_t kEnd = 0x06054B50;
constexpr std::uint32_t kEnd64 = 0x06064B50;
constexpr std::uint32_t kLocator64 = 0x07064B50;
constexpr std::uint32_t kDescriptor = 0x08074B50;
constexpr std::uint32_t kMax32 = 0xFFFFFFFFu;
constexpr std::size_t kMaxEntries = std::size_t{1} << 20;

class ZipWalk {
  public:
    explicit ZipWalk(FileBytes& bytes) : bytes_(bytes), limit_(bytes.Limit()) {}

    std::optional<std::uint64_t> End() {
        std::uint64_t at = 0;
        while (true) {
            const auto signature = bytes_.Little32(at);
            if (!signature)
                return std::nullopt;
            if (*signature != kLocal)
                break;
            if (entries_.size() >= kMaxEntries)
                return std::nullopt;
            const auto next = SkipLocal(at);
            if (!next)
                return std::nullopt;
            at = *next;
        }
        if (entries_.empty())
            return std::nullopt;
        const auto central = SkipApkSigningBlock(at);
        if (!central)
            return std::nullopt;
        return ReadCentral(*central);
    }

  private:
    struct Entry {
        std::uint64_t offset;
        std::uint64_t packed;
        std::uint16_t nameLength;
        bool listed;
    };
    struct Field {
        std::uint64_t offset;
        std::uint16_t size;
    };

    // The data of the ZIP64 extra field among the `length` bytes of extra fields at `at`.
    std::optional<Field> Zip64Field(std::uint64_t at, std::uint16_t length) {
        std::uint64_t p = at;
        const std::uint64_t end = at + length;
        while (p + 4 <= end) {
            const auto id = bytes_.Little16(p);
            const auto size = bytes_.Little16(p + 2);
            if (!id || !size || p + 4 + *size > end)
                return std::nullopt;
            if (*id == 0x0001)
                return Field{p + 4, *size};
            p += 4 + *size;
        }
        return std::nullopt;
    }

    // The local entry at `at`; the offset of what follows its data.
    std::optional<std::uint64_t> SkipLocal(std::uint64_t at) {
        const auto flags = bytes_.Little16(at + 6);
        const auto packed32 = bytes_.Little32(at + 18);
        const auto size32 = bytes_.Little32(at + 22);
        const auto nameLength = bytes_.Little16(at + 26);
        const auto extraLength = bytes_.Little16(at + 28);
        if (!flags || !packed32 || !size32 || !nameLength || !extraLength)
            return std::nullopt;
        const std::uint64_t data = at + 30 + *nameLength + *extraLength;
        if (data > limit_)
            return std::nullopt;
        std::uint64_t packed = *packed32;
        bool zip64 = false;
        if (*packed32 == kMax32 || *size32 == kMax32) {
            if (const auto field = Zip64Field(at + 30 + *nameLength, *extraLength)) {
                zip64 = true;
                // Here both sizes are present, the original size first.
                std::optional<std::uint64_t> wide;
                if (field->size >= 16)
                    wide = bytes_.Little64(field->offset + 8);
                else if (field->size >= 8 && *size32 != kMax32)
                    wide = bytes_.Little64(field->offset);
                if (wide)
                    packed = *wide;
            }
        }
        std::uint64_t next = 0;
        if (*flags & 0x0008) {
            // Sizes follow the data in a descriptor: find where it ends.
            const auto found = FindDescriptor(data, zip64, packed);
            if (!found)
                return std::nullopt;
            packed = found->first;
            next = found->second;
        } else {
            if (packed == kMax32 && !zip64)
                return std::nullopt;
            if (packed > limit_ - data)
                return std::nullopt;
            next = data + packed;
        }
        entries_.push_back({at, packed, *nameLength, false});
        return next;
    }

    // The packed size when a data descriptor that counts the bytes from `data` ends at
    // `next`.
    std::optional<std::uint64_t> DescriptorBefore(std::uint64_t data, std::uint64_t next,
                                                  bool zip64) {
        const auto signed32 = [&]() -> std::optional<std::uint64_t> {
            if (next < data + 16 || bytes_.Little32(next - 16) != kDescriptor)
                return std::nullopt;
            const auto packed = bytes_.Little32(next - 8);
            if (!packed || *packed != next - 16 - data)
                return std::nullopt;
            return *packed;
        };
        const auto signed64 = [&]() -> std::optional<std::uint64_t> {
            if (next < data + 24 || bytes_.Little32(next - 24) != kDescriptor)
                return std::nullopt;
            const auto packed = bytes_.Little64(next - 16);
            if (!packed || *packed != next - 24 - data)
                return std::nullopt;
            return *packed;
        };
        const auto bare32 = [&]() -> std::optional<std::uint64_t> {
            if (next < data + 12)
                return std::nullopt;
            const auto packed = bytes_.Little32(next - 8);
            if (!packed || *packed != next - 12 - data)
                return std::nullopt;
            return *packed;
        };
        const auto bare64 = [&]() -> std::optional<std::uint64_t> {
            if (next < data + 20)
                return std::nullopt;
            const auto packed = bytes_.Little64(next - 16);
            if (!packed || *packed != next - 20 - data)
                return std::nullopt;
            return *packed;
        };
        if (zip64) {
            if (auto p = signed64())
                return p;
            if (auto p = signed32())
                return p;
        } else {
            if (auto p = signed32())
                return p;
            if (auto p = signed64())
                return p;
        }
        if (auto p = zip64 ? bare64() : bare32())
            return p;
        return zip64 ? bare32() : bare64();
    }

    bool StartsRecord(std::uint64_t at) {
        const auto signature = bytes_.Little32(at);
        return signature && (*signature == kLocal || *signature == kCentral);
    }

    // The packed size and the offset of the next record, the first local or central
    // header found after `data` that a matching descriptor precedes.
    std::optional<std::pair<std::uint64_t, std::uint64_t>> FindDescriptor(std::uint64_t data,
                                                                          bool zip64,
                                                                          std::uint64_t hint) {
        // A writer that knew the size may have put it in the local header too.
        for (const std::uint64_t length :
             {std::uint64_t{16}, std::uint64_t{24}, std::uint64_t{12}, std::uint64_t{20}}) {
            if (hint == 0 || hint == kMax32 || hint > limit_ - data ||
                length > limit_ - data - hint)
                continue;
            const std::uint64_t next = data + hint + length;
            if (StartsRecord(next) && DescriptorBefore(data, next, zip64) == hint)
                return std::pair{hint, next};
        }
        for (std::uint64_t next = data + 12; next < limit_; ++next) {
            const auto b = bytes_.At(next);
            if (!b)
                return std::nullopt;
            if (*b != 'P' || !StartsRecord(next))
                continue;
            if (const auto packed = DescriptorBefore(data, next, zip64))
                return std::pair{*packed, next};
        }
        return std::nullopt;
    }

    // APK signing puts a block of its own between the entries and the central directory.
    std::optional<std::uint64_t> SkipApkSigningBlock(std::uint64_t at) {
        const auto signature = bytes_.Little32(at);
        if (!signature)
            return std::nullopt;
        if (*signature == kCentral)
            return at;
        const auto size = bytes_.Little64(at);
        if (!size || *size < 32 || at + 8 > limit_ || *size > limit_ - at - 8)
            return std::nullopt;
        const std::uint64_t end = at + 8 + *size;
        static constexpr char kMagic[] = "APK Sig Block 42";
        for (std::uint64_t i = 0; i < 16; ++i) {
            const auto b = bytes_.At(end - 16 + i);
            if (!b || *b != static_cast<std::uint8_t>(kMagic[i]))
                return std::nullopt;
        }
        if (bytes_.Little64(end - 24) != *size)
            return std::nullopt;
        return end;
    }

    Entry* FindEntry(std::uint64_t offset) {
        const auto found =
            std::lower_bound(entries_.begin(), entries_.end(), offset,
                             [](const Entry& entry, std::uint64_t o) { return entry.offset < o; });
        return found != entries_.end() && found->offset == offset ? &*found : nullptr;
    }

    // True when the central header at `at` lists a local entry not listed before and
    // agrees with it; `next` is set past the header.
    bool ReadCentralHeader(std::uint64_t at, std::uint64_t& next) {
        const auto packed32 = bytes_.Little32(at + 20);
        const auto size32 = bytes_.Little32(at + 24);
        const auto nameLength = bytes_.Little16(at + 28);
        const auto extraLength = bytes_.Little16(at + 30);
        const auto commentLength = bytes_.Little16(at + 32);
        const auto offset32 = bytes_.Little32(at + 42);
        if (!packed32 || !size32 || !nameLength || !extraLength || !commentLength || !offset32)
            return false;
        next = at + 46 + *nameLength + *extraLength + *commentLength;
        if (next > limit_)
            return false;
        std::uint64_t packed = *packed32;
        std::uint64_t offset = *offset32;
        if (*packed32 == kMax32 || *size32 == kMax32 || *offset32 == kMax32) {
            // Only the fields that overflowed are present, in this order.
            const auto field = Zip64Field(at + 46 + *nameLength, *extraLength);
            if (field) {
                std::uint64_t p = field->offset;
                const std::uint64_t end = field->offset + field->size;
                if (*size32 == kMax32)
                    p += 8;
                if (*packed32 == kMax32) {
                    const auto wide = p + 8 <= end ? bytes_.Little64(p) : std::nullopt;
                    if (!wide)
                        return false;
                    packed = *wide;
                    p += 8;
                }
                if (*offset32 == kMax32) {
                    const auto wide = p + 8 <= end ? bytes_.Little64(p) : std::nullopt;
                    if (!wide)
                        return false;
                    offset = *wide;
                }
            }
        }
        Entry* entry = FindEntry(offset);
        if (!entry || entry->listed || entry->nameLength != *nameLength || entry->packed != packed)
            return false;
        entry->listed = true;
        return true;
    }

    std::optional<std::uint64_t> ReadCentral(std::uint64_t start) {
        std::uint64_t at = start;
        std::uint64_t count = 0;
        auto signature = bytes_.Little32(at);
        while (signature && *signature == kCentral) {
            if (count >= entries_.size())
                return std::nullopt;
            std::uint64_t next = 0;
            if (!ReadCentralHeader(at, next))
                return std::nullopt;
            ++count;
            at = next;
            signature = bytes_.Little32(at);
        }
        if (!signature || count == 0)
            return std::nullopt;
        const std::uint64_t centralEnd = at;
        if (*signature == kDigitalSignature) {
            const auto size = bytes_.Little16(at + 4);
            if (!size)
                return std::nullopt;
            at += 6 + *size;
            signature = bytes_.Little32(at);
            if (!signature)
                return std::nullopt;
        }
        const std::uint64_t signatureEnd = at;
        const auto sizeMatches = [&](std::uint64_t size) {
            return size == centralEnd - start || size == signatureEnd - start;
        };
        bool zip64 = false;
        if (*signature == kEnd64) {
            const auto rest = bytes_.Little64(at + 4);
            if (!rest || *rest < 44 || at + 12 > limit_ || *rest > limit_ - at - 12)
                return std::nullopt;
            const auto count64 = bytes_.Little64(at + 32);
            const auto size64 = bytes_.Little64(at + 40);
            const auto offset64 = bytes_.Little64(at + 48);
            if (count64 != count || !size64 || !sizeMatches(*size64) || offset64 != start)
                return std::nullopt;
            const std::uint64_t record = at;
            at += 12 + *rest;
            if (bytes_.Little32(at) != kLocator64 || bytes_.Little64(at + 8) != record)
                return std::nullopt;
            at += 20;
            signature = bytes_.Little32(at);
            if (!signature)
                return std::nullopt;
            zip64 = true;
        }
        if (*signature != kEnd)
            return std::nullopt;
        const auto count16 = bytes_.Little16(at + 10);
        const auto size32 = bytes_.Little32(at + 12);
        const auto offset32 = bytes_.Little32(at + 16);
        const auto commentLength = bytes_.Little16(at + 20);
        if (!count16 || !size32 || !offset32 || !commentLength)
            return std::nullopt;
        if (zip64) {
            // The ZIP64 record holds the values; these hold their low bits or a marker.
            if (*count16 != 0xFFFF && *count16 != (count & 0xFFFF))
                return std::nullopt;
            if (*size32 != kMax32 && !sizeMatches(*size32))
                return std::nullopt;
            if (*offset32 != kMax32 && *offset32 != start)
                return std::nullopt;
        } else if (*count16 != (count & 0xFFFF) || !sizeMatches(*size32) || *offset32 != start) {
            return std::nullopt;
        }
        const std::uint64_t end = at + 22 + *commentLength;
        if (end > limit_)
            return std::nullopt;
        return end;
    }

    FileBytes& bytes_;
    const std::uint64_t limit_;
    std::vector<Entry> entries_;
};

}  // namespace

std::optional<std::uint64_t> ZipEnd(FileBytes& bytes) {
    return ZipWalk(bytes).End();
}

}  // namespace duzez::signatures
