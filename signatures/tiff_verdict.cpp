#include "signatures/tiff_verdict.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace duzez::signatures::verdict {
namespace {

class TiffCheck {
  public:
    TiffCheck(Bytes file, Clock::time_point deadline) : file_(file), deadline_(deadline) {}

    VerdictDetail Run() {
        const std::size_t size = file_.size();
        if (size < 8) {
            if ((size >= 1 && file_[0] != 'I' && file_[0] != 'M') ||
                (size >= 2 && file_[0] != file_[1]))
                return Damaged(0, "does not start with a TIFF header");
            return Truncated("ends inside its header");
        }
        if ((file_[0] != 'I' || file_[1] != 'I') && (file_[0] != 'M' || file_[1] != 'M'))
            return Damaged(0, "does not start with a TIFF header");
        little_ = file_[0] == 'I';
        const std::uint16_t magic = U16(2);
        if (magic == 43)
            return Make(PhotoVerdict::Unchecked, 0, "BigTIFF is not checked");
        // TIFF, ORF ("RO", "RS") and RW2 ("U").
        if (magic != 42 && magic != 0x4F52 && magic != 0x5352 && magic != 0x55)
            return Damaged(0, "does not start with a TIFF header");
        std::vector<std::uint64_t> pending{U32(4)};
        std::vector<std::uint64_t> visited;
        while (!pending.empty()) {
            const std::uint64_t ifd = pending.front();
            pending.erase(pending.begin());
            if (std::find(visited.begin(), visited.end(), ifd) != visited.end())
                continue;  // the chain loops back
            if (visited.size() == kMaxIfds)
                break;
            visited.push_back(ifd);
            if (auto problem = ReadIfd(ifd, pending))
                return *problem;
        }
        if (!sawImageData_)
            return Damaged(visited.empty() ? 4 : visited.front(), "no image data");
        return Make(PhotoVerdict::Intact, size, "every strip and tile lies within the file");
    }

  private:
    static constexpr std::size_t kMaxIfds = 64;
    static constexpr std::uint16_t kMaxEntries = 4096;

    struct Entry {
        std::uint16_t tag = 0;
        std::uint16_t type = 0;
        std::uint32_t count = 0;
        std::uint64_t values = 0;  // where the values lie
    };

    std::uint16_t U16(std::uint64_t at) const {
        const auto a = file_[at];
        const auto b = file_[at + 1];
        return static_cast<std::uint16_t>(little_ ? (b << 8) | a : (a << 8) | b);
    }
    std::uint32_t U32(std::uint64_t at) const {
        const std::uint32_t hi = U16(at + (little_ ? 2 : 0));
        const std::uint32_t lo = U16(at + (little_ ? 0 : 2));
        return (hi << 16) | lo;
    }
    static std::uint32_t TypeSize(std::uint16_t type) {
        static constexpr std::uint32_t kSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
        return type < std::size(kSizes) ? kSizes[type] : 0;
    }
    VerdictDetail Damaged(std::uint64_t at, std::string reason) const {
        return Make(PhotoVerdict::Damaged, at, std::move(reason));
    }
    VerdictDetail Truncated(std::string reason) const {
        return Make(PhotoVerdict::Truncated, file_.size(), std::move(reason));
    }
    // Value `i` of a SHORT, LONG or IFD array.
    std::uint32_t Value(const Entry& e, std::uint32_t i) const {
        return e.type == 3 ? U16(e.values + 2ull * i) : U32(e.values + 4ull * i);
    }
    // Every IFD may point at the same huge array; the clock is read now and then.
    bool Late(std::uint32_t i) const { return i % 65536 == 65535 && Clock::now() > deadline_; }
    static bool IsOffsetType(std::uint16_t type) { return type == 3 || type == 4 || type == 13; }

    // Checks that every piece the offsets and lengths entries point at lies within the file.
    std::optional<VerdictDetail> CheckPieces(std::uint64_t ifd, const Entry* offsets,
                                             const Entry* lengths, const char* what) {
        if (offsets == nullptr)
            return std::nullopt;
        if (!IsOffsetType(offsets->type) || offsets->count == 0)
            return Damaged(ifd, std::string("unreadable ") + what + " offsets");
        sawImageData_ = true;
        if (lengths == nullptr) {  // some RAW files give only where the data starts
            for (std::uint32_t i = 0; i < offsets->count; ++i) {
                if (Late(i))
                    return OutOfTime(ifd);
                if (Value(*offsets, i) >= file_.size())
                    return Truncated(std::string(what) + " beyond the end of the file");
            }
            return std::nullopt;
        }
        if (!IsOffsetType(lengths->type) || lengths->count != offsets->count)
            return Damaged(ifd, std::string(what) + " offsets and sizes do not match");
        for (std::uint32_t i = 0; i < offsets->count; ++i) {
            if (Late(i))
                return OutOfTime(ifd);
            const std::uint64_t end = std::uint64_t{Value(*offsets, i)} + Value(*lengths, i);
            if (end > file_.size())
                return Truncated(std::string(what) + " beyond the end of the file");
        }
        return std::nullopt;
    }

    std::optional<VerdictDetail> ReadIfd(std::uint64_t at, std::vector<std::uint64_t>& pending) {
        const std::uint64_t size = file_.size();
        if (at >= size)
            return Truncated("a directory lies beyond the end of the file");
        if (at < 8)
            return Damaged(at, "a directory inside the header");
        if (size - at < 2)
            return Truncated("ends inside a directory");
        const std::uint16_t count = U16(at);
        if (count == 0 || count > kMaxEntries)
            return Damaged(at, "unreadable directory");
        if (size - at - 2 < 12ull * count + 4)
            return Truncated("ends inside a directory");
        std::optional<Entry> stripOffsets, stripLengths, tileOffsets, tileLengths, jpegAt,
            jpegLength, subIfds;
        for (std::uint16_t i = 0; i < count; ++i) {
            const std::uint64_t entryAt = at + 2 + 12ull * i;
            Entry e{U16(entryAt), U16(entryAt + 2), U32(entryAt + 4), entryAt + 8};
            const std::uint32_t unit = TypeSize(e.type);
            if (unit == 0)
                continue;  // a type this check does not know; its value is not needed
            const std::uint64_t bytes = std::uint64_t{unit} * e.count;
            if (bytes > 4) {
                e.values = U32(entryAt + 8);
                if (e.values > size || bytes > size - e.values)
                    return Truncated("a directory's values lie beyond the end of the file");
            }
            switch (e.tag) {
                case 273:
                    stripOffsets = e;
                    break;
                case 279:
                    stripLengths = e;
                    break;
                case 324:
                    tileOffsets = e;
                    break;
                case 325:
                    tileLengths = e;
                    break;
                case 330:
                    subIfds = e;
                    break;
                case 513:
                    jpegAt = e;
                    break;
                case 514:
                    jpegLength = e;
                    break;
                default:
                    break;
            }
        }
        const auto pointer = [](const std::optional<Entry>& e) { return e ? &*e : nullptr; };
        if (auto problem = CheckPieces(at, pointer(stripOffsets), pointer(stripLengths), "strips"))
            return problem;
        if (auto problem = CheckPieces(at, pointer(tileOffsets), pointer(tileLengths), "tiles"))
            return problem;
        if (jpegAt && jpegLength) {
            if (auto problem = CheckPieces(at, pointer(jpegAt), pointer(jpegLength), "preview"))
                return problem;
        }
        if (subIfds && (subIfds->type == 4 || subIfds->type == 13)) {
            for (std::uint32_t i = 0; i < subIfds->count && pending.size() < kMaxIfds; ++i)
                pending.push_back(Value(*subIfds, i));
        }
        const std::uint32_t next = U32(at + 2 + 12ull * count);
        if (next != 0)
            pending.push_back(next);
        return std::nullopt;
    }

    Bytes file_;
    Clock::time_point deadline_;
    bool little_ = true;
    bool sawImageData_ = false;
};

}  // namespace

VerdictDetail JudgeTiff(Bytes file, Clock::time_point deadline) {
    return TiffCheck(file, deadline).Run();
}

}  // namespace duzez::signatures::verdict
