#include "signatures/gif_verdict.h"

#include <algorithm>
#include <array>
#include <memory>
#include <string_view>

#include "platform/byte_order.h"

namespace duzez::signatures::verdict {
namespace {

// Follows the LZW codes of one image, counting the pixels they stand for.
class LzwWalk {
  public:
    explicit LzwWalk(unsigned minimumCodeSize)
        : clear_(1u << minimumCodeSize), minimum_(minimumCodeSize) {
        for (std::uint32_t code = 0; code < clear_; ++code)
            length_[code] = 1;
        Reset();
    }
    // False at a code the table cannot hold yet.
    bool Feed(std::uint8_t byte) {
        if (ended_)
            return true;
        bits_ |= std::uint32_t{byte} << count_;
        count_ += 8;
        while (count_ >= codeSize_) {
            const std::uint32_t code = bits_ & ((1u << codeSize_) - 1);
            bits_ >>= codeSize_;
            count_ -= codeSize_;
            if (!Code(code))
                return false;
            if (ended_)
                return true;
        }
        return true;
    }
    std::uint64_t Pixels() const { return pixels_; }

  private:
    void Reset() {
        codeSize_ = minimum_ + 1;
        next_ = clear_ + 2;
        previous_ = -1;
    }
    bool Code(std::uint32_t code) {
        if (code == clear_) {
            Reset();
            return true;
        }
        if (code == clear_ + 1) {
            ended_ = true;
            return true;
        }
        if (previous_ < 0) {
            if (code > clear_)
                return false;
            pixels_ += 1;
            previous_ = static_cast<int>(code);
            return true;
        }
        std::uint32_t length = 0;
        if (code < next_)
            length = length_[code];
        else if (code == next_ && next_ < kCodes)
            length = length_[previous_] + 1;
        else
            return false;
        if (next_ < kCodes) {
            length_[next_] = length_[previous_] + 1;
            ++next_;
            if (next_ == (1u << codeSize_) && codeSize_ < 12)
                ++codeSize_;
        }
        pixels_ += length;
        previous_ = static_cast<int>(code);
        return true;
    }

    static constexpr std::uint32_t kCodes = 4096;
    std::uint32_t clear_;
    unsigned minimum_;
    unsigned codeSize_ = 0;
    std::uint32_t next_ = 0;
    int previous_ = -1;
    std::uint32_t bits_ = 0;
    unsigned count_ = 0;
    bool ended_ = false;
    std::uint64_t pixels_ = 0;
    std::array<std::uint32_t, kCodes> length_{};
};
}  // namespace

VerdictDetail JudgeGif(Bytes file, Clock::time_point deadline) {
    const std::size_t size = file.size();
    constexpr std::string_view k87("GIF87a"), k89("GIF89a");
    const std::size_t lead = std::min<std::size_t>(size, 6);
    const std::string_view start(reinterpret_cast<const char*>(file.data()), lead);
    if (start != k87.substr(0, lead) && start != k89.substr(0, lead))
        return Make(PhotoVerdict::Damaged, 0, "does not start with a GIF header");
    const auto truncated = [size] {
        return Make(PhotoVerdict::Truncated, size, "ends before its trailer");
    };
    if (size < 13)
        return truncated();
    std::size_t pos = 13;
    if (file[10] & 0x80)
        pos += 3u * (2u << (file[10] & 7));
    unsigned images = 0;
    unsigned blocks = 0;
    while (true) {
        if (pos >= size)
            return truncated();
        const std::size_t blockAt = pos;
        const std::uint8_t introducer = file[pos];
        if (introducer == 0x3B) {
            if (images == 0)
                return Make(PhotoVerdict::Damaged, pos, "trailer before any image");
            return Make(PhotoVerdict::Intact, size, "every block checks out");
        }
        std::unique_ptr<LzwWalk> lzw;
        std::uint64_t framePixels = 0;
        if (introducer == 0x21) {
            pos += 2;  // introducer and label
        } else if (introducer == 0x2C) {
            if (size - pos < 11)
                return truncated();
            const auto width = platform::ReadLe<std::uint16_t>(file, pos + 5);
            const auto height = platform::ReadLe<std::uint16_t>(file, pos + 7);
            framePixels = std::uint64_t{*width} * *height;
            const std::uint8_t flags = file[pos + 9];
            pos += 10;
            if (flags & 0x80)
                pos += 3u * (2u << (flags & 7));
            if (pos >= size)
                return truncated();
            const unsigned minimum = file[pos];
            if (minimum < 1 || minimum > 11)
                return Make(PhotoVerdict::Damaged, pos, "image with an impossible code size");
            lzw = std::make_unique<LzwWalk>(minimum);
            ++pos;
            ++images;
        } else {
            return Make(PhotoVerdict::Damaged, pos, "unknown block where a block should start");
        }
        // Sub-blocks, each led by its length, to an empty one.
        while (true) {
            if (pos >= size)
                return truncated();
            const std::size_t length = file[pos];
            if (length == 0) {
                ++pos;
                break;
            }
            if (size - pos - 1 < length)
                return truncated();
            if (lzw) {
                for (std::size_t i = 1; i <= length; ++i) {
                    if (!lzw->Feed(file[pos + i]))
                        return Make(PhotoVerdict::Damaged, pos, "corrupt image data");
                }
            }
            pos += 1 + length;
            if (++blocks % 256 == 0 && Clock::now() > deadline)
                return OutOfTime(pos);
        }
        if (lzw && lzw->Pixels() < framePixels)
            return Make(PhotoVerdict::Damaged, blockAt, "image data ends before its last pixel");
    }
}

}  // namespace duzez::signatures::verdict
