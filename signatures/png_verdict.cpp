#include "signatures/png_verdict.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <memory>
#include <string>

namespace duzez::signatures::verdict {
namespace {

constexpr std::array<std::uint8_t, 8> kPngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::uint32_t Big32(Bytes b, std::size_t at) {
    return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) |
           (std::uint32_t{b[at + 2]} << 8) | b[at + 3];
}

struct PngHeader {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint8_t depth = 0;
    std::uint8_t colour = 0;
    bool interlaced = false;
};

// Bits per pixel; 0 for a combination no PNG may have.
unsigned PngBitsPerPixel(const PngHeader& h) {
    const auto depthIn = [&h](std::initializer_list<unsigned> allowed) {
        return std::find(allowed.begin(), allowed.end(), h.depth) != allowed.end();
    };
    switch (h.colour) {
        case 0:
            return depthIn({1, 2, 4, 8, 16}) ? h.depth : 0;
        case 2:
            return depthIn({8, 16}) ? 3u * h.depth : 0;
        case 3:
            return depthIn({1, 2, 4, 8}) ? h.depth : 0;
        case 4:
            return depthIn({8, 16}) ? 2u * h.depth : 0;
        case 6:
            return depthIn({8, 16}) ? 4u * h.depth : 0;
        default:
            return 0;
    }
}

// Bytes the image data inflates to: each row's filter byte and its packed pixels, per
// interlace pass where the image is interlaced.
std::uint64_t PngRawSize(const PngHeader& h) {
    const std::uint64_t bits = PngBitsPerPixel(h);
    const auto passBytes = [bits](std::uint64_t width, std::uint64_t height) -> std::uint64_t {
        if (width == 0 || height == 0)
            return 0;
        return height * (1 + (width * bits + 7) / 8);
    };
    if (!h.interlaced)
        return passBytes(h.width, h.height);
    struct Pass {
        unsigned x0, dx, y0, dy;
    };
    constexpr Pass kPasses[] = {{0, 8, 0, 8}, {4, 8, 0, 8}, {0, 4, 4, 8}, {2, 4, 0, 4},
                                {0, 2, 2, 4}, {1, 2, 0, 2}, {0, 1, 1, 2}};
    std::uint64_t total = 0;
    for (const Pass& p : kPasses) {
        const std::uint64_t w = h.width > p.x0 ? (h.width - p.x0 + p.dx - 1) / p.dx : 0;
        const std::uint64_t rows = h.height > p.y0 ? (h.height - p.y0 + p.dy - 1) / p.dy : 0;
        total += passBytes(w, rows);
    }
    return total;
}

class Inflater {
  public:
    Inflater() { ready_ = inflateInit(&stream_) == Z_OK; }
    ~Inflater() {
        if (ready_)
            inflateEnd(&stream_);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    enum class Result { More, Ended, Corrupt, TooMuch, Late };

    // Feeds `data`, counting (and dropping) what it inflates to, never more than `limit`.
    Result Feed(Bytes data, std::uint64_t limit, Clock::time_point deadline) {
        if (!ready_)
            return Result::Corrupt;
        if (ended_)
            return Result::Ended;  // compressed bytes after the stream's end are ignored
        stream_.next_in = const_cast<Bytef*>(data.data());
        stream_.avail_in = static_cast<uInt>(data.size());
        while (true) {
            stream_.next_out = sink_.data();
            stream_.avail_out = static_cast<uInt>(sink_.size());
            const int status = inflate(&stream_, Z_NO_FLUSH);
            produced_ += sink_.size() - stream_.avail_out;
            if (produced_ > limit)
                return Result::TooMuch;
            if (status == Z_STREAM_END) {
                ended_ = true;
                return Result::Ended;
            }
            if (status == Z_BUF_ERROR ||
                (status == Z_OK && stream_.avail_in == 0 && stream_.avail_out != 0))
                return Result::More;
            if (status != Z_OK)
                return Result::Corrupt;
            if (Clock::now() > deadline)
                return Result::Late;
        }
    }
    bool Ended() const { return ended_; }
    std::uint64_t Produced() const { return produced_; }

  private:
    z_stream stream_{};
    bool ready_ = false;
    bool ended_ = false;
    std::uint64_t produced_ = 0;
    std::array<Bytef, 65536> sink_{};
};

bool IsChunkLetter(std::uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

VerdictDetail JudgePng(Bytes file, Clock::time_point deadline) {
    const std::size_t size = file.size();
    const std::size_t signature = std::min(size, kPngSignature.size());
    if (!std::equal(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(signature),
                    kPngSignature.begin()))
        return Make(PhotoVerdict::Damaged, 0, "does not start with the PNG signature");
    if (size < kPngSignature.size())
        return Make(PhotoVerdict::Truncated, size, "ends inside its signature");
    PngHeader header;
    std::uint64_t expected = 0;
    bool sawHeader = false;
    bool sawPalette = false;
    bool inData = false;    // the last chunk was image data
    bool dataDone = false;  // image data was followed by another chunk
    auto inflater = std::make_unique<Inflater>();
    std::size_t pos = kPngSignature.size();
    while (true) {
        if (pos == size)
            return Make(PhotoVerdict::Truncated, size, "ends before its end chunk");
        if (size - pos < 12)
            return Make(PhotoVerdict::Truncated, size, "ends inside a chunk");
        const std::uint32_t length = Big32(file, pos);
        const auto type = file.subspan(pos + 4, 4);
        const std::string name(type.begin(), type.end());
        if (length > 0x7FFFFFFFu)
            return Make(PhotoVerdict::Damaged, pos, "chunk length out of range");
        if (!std::all_of(type.begin(), type.end(), IsChunkLetter))
            return Make(PhotoVerdict::Damaged, pos, "chunk with an invalid name");
        if (length > size - pos - 12)
            return Make(PhotoVerdict::Truncated, size, "ends inside its " + name + " chunk");
        const auto data = file.subspan(pos + 8, length);
        const std::uint32_t crc = static_cast<std::uint32_t>(
            crc32(crc32(0, type.data(), 4), data.data(), static_cast<uInt>(data.size())));
        if (crc != Big32(file, pos + 8 + length))
            return Make(PhotoVerdict::Damaged, pos, name + " chunk fails its checksum");

        if (!sawHeader) {
            if (name == "CgBI")
                return Make(PhotoVerdict::Unchecked, 0, "an Apple-optimised PNG");
            if (name != "IHDR" || length != 13)
                return Make(PhotoVerdict::Damaged, pos, "does not start with its header chunk");
            header.width = Big32(data, 0);
            header.height = Big32(data, 4);
            header.depth = data[8];
            header.colour = data[9];
            header.interlaced = data[12] == 1;
            if (header.width == 0 || header.height == 0 || header.width > 0x7FFFFFFFu ||
                header.height > 0x7FFFFFFFu || PngBitsPerPixel(header) == 0 || data[10] != 0 ||
                data[11] != 0 || data[12] > 1)
                return Make(PhotoVerdict::Damaged, pos, "header chunk holds impossible values");
            if (TooLarge(header.width, header.height))
                return Make(PhotoVerdict::Unchecked, 0, Sized(header.width, header.height));
            expected = PngRawSize(header);
            sawHeader = true;
        } else if (name == "IHDR") {
            return Make(PhotoVerdict::Damaged, pos, "a second header chunk");
        } else if (name == "PLTE") {
            sawPalette = true;
        } else if (name == "IDAT") {
            if (dataDone)
                return Make(PhotoVerdict::Damaged, pos, "image data split by other chunks");
            if (header.colour == 3 && !sawPalette)
                return Make(PhotoVerdict::Damaged, pos, "image data before its palette");
            inData = true;
            switch (inflater->Feed(data, expected, deadline)) {
                case Inflater::Result::Corrupt:
                    return Make(PhotoVerdict::Damaged, pos, "compressed image data is corrupt");
                case Inflater::Result::TooMuch:
                    return Make(PhotoVerdict::Damaged, pos, "more image data than its size holds");
                case Inflater::Result::Late:
                    return OutOfTime(pos);
                case Inflater::Result::More:
                case Inflater::Result::Ended:
                    break;
            }
        } else if (name == "IEND") {
            if (!inData && !dataDone)
                return Make(PhotoVerdict::Damaged, pos, "no image data");
            if (!inflater->Ended())
                return Make(PhotoVerdict::Damaged, pos, "compressed image data ends early");
            if (inflater->Produced() != expected)
                return Make(PhotoVerdict::Damaged, pos,
                            "image data holds " + std::to_string(inflater->Produced()) +
                                " bytes, its size needs " + std::to_string(expected));
            return Make(PhotoVerdict::Intact, size, "every chunk checks out");
        }
        if (name != "IDAT" && inData) {
            inData = false;
            dataDone = true;
        }
        pos += 12 + std::size_t{length};
        if (Clock::now() > deadline)
            return OutOfTime(pos);
    }
}

}  // namespace duzez::signatures::verdict
