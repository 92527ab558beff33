#include "signatures/iso_media_verdict.h"

#include <cstdint>
#include <string>

namespace duzez::signatures {
namespace {

constexpr std::size_t kMaxBoxes = 100000;

std::uint64_t Big(std::span<const std::uint8_t> bytes, std::size_t at, int width) {
    std::uint64_t value = 0;
    for (int i = 0; i < width; ++i)
        value = (value << 8) | bytes[at + static_cast<std::size_t>(i)];
    return value;
}

bool IsBoxType(std::span<const std::uint8_t> type) {
    for (const std::uint8_t c : type) {
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return true;
}

VerdictDetail Verdict(PhotoVerdict verdict, std::uint64_t goodBytes, std::string reason) {
    VerdictDetail detail;
    detail.verdict = verdict;
    detail.goodBytes = goodBytes;
    detail.reason = std::move(reason);
    return detail;
}

}  // namespace

VerdictDetail JudgeIsoMedia(std::span<const std::uint8_t> file) {
    bool index = false;
    bool data = false;
    std::uint64_t at = 0;
    for (std::size_t boxes = 0; at < file.size(); ++boxes) {
        if (boxes == kMaxBoxes)
            return Verdict(PhotoVerdict::Unchecked, at, "too many boxes to check");
        if (file.size() - at < 8)
            return Verdict(PhotoVerdict::Truncated, at, "ends inside a box header");
        const auto header = file.subspan(static_cast<std::size_t>(at));
        const auto type = header.subspan(4, 4);
        if (!IsBoxType(type) || (boxes == 0 && std::string(type.begin(), type.end()) != "ftyp"))
            return Verdict(PhotoVerdict::Damaged, at, "a box header that is not one");
        std::uint64_t size = Big(header, 0, 4);
        std::uint64_t headerSize = 8;
        if (size == 1) {
            if (header.size() < 16)
                return Verdict(PhotoVerdict::Truncated, at, "ends inside a box header");
            size = Big(header, 8, 8);
            headerSize = 16;
        } else if (size == 0) {
            size = file.size() - at;  // the last box runs to the end
        }
        if (size < headerSize)
            return Verdict(PhotoVerdict::Damaged, at, "a box smaller than its header");
        const std::string name(type.begin(), type.end());
        index = index || name == "moov" || name == "meta";
        data = data || name == "mdat" || name == "idat" || name == "meta";
        if (size > file.size() - at)
            return Verdict(PhotoVerdict::Truncated, at, "the " + name + " box runs past the end");
        at += size;
    }
    if (!index)
        return Verdict(PhotoVerdict::Truncated, at, "no moov or meta index");
    if (!data)
        return Verdict(PhotoVerdict::Truncated, at, "no media data");
    return Verdict(PhotoVerdict::Intact, at, "every box in place");
}

}  // namespace duzez::signatures
