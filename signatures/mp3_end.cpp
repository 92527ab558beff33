#include "signatures/mp3_end.h"

namespace duzez::signatures {
namespace {

constexpr int kMinFrames = 8;
constexpr std::uint64_t kMaxPadding = 65536;
constexpr std::uint64_t kId3v1 = 128;
constexpr std::uint64_t kApeFooter = 32;

// kbit/s by [MPEG-1?][layer 1..3][index 1..14].
constexpr std::uint16_t kBitrates[2][3][15] = {
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
};
// Hz by [version bits][index]; version bits 1 are reserved.
constexpr std::uint32_t kSampleRates[4][3] = {
    {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

struct Frame {
    std::uint32_t kind;  // version, layer and sample rate bits: the same along a stream
    std::uint64_t length;
    bool freeFormat;
};

// The frame header at `at`, or nullopt when the bytes there are not one.
std::optional<Frame> ReadFrame(FileBytes& bytes, std::uint64_t at) {
    const auto header = bytes.Big32(at);
    if (!header || (*header & 0xFFE00000u) != 0xFFE00000u)
        return std::nullopt;
    const std::uint32_t version = (*header >> 19) & 3;
    const std::uint32_t layerBits = (*header >> 17) & 3;
    const std::uint32_t bitrateIndex = (*header >> 12) & 15;
    const std::uint32_t rateIndex = (*header >> 10) & 3;
    const std::uint32_t padding = (*header >> 9) & 1;
    if (version == 1 || layerBits == 0 || bitrateIndex == 15 || rateIndex == 3 ||
        (*header & 3) == 2)  // reserved emphasis
        return std::nullopt;
    const std::uint32_t kind = (*header >> 10) & 0x783;  // not the bitrate, nor padding
    if (bitrateIndex == 0)
        return Frame{kind, 0, true};
    const int layer = 4 - static_cast<int>(layerBits);  // 1, 2 or 3
    const bool mpeg1 = version == 3;
    const std::uint64_t bitrate = 1000ull * kBitrates[mpeg1][layer - 1][bitrateIndex];
    const std::uint64_t rate = kSampleRates[version][rateIndex];
    std::uint64_t length = 0;
    if (layer == 1)
        length = (12 * bitrate / rate + padding) * 4;
    else if (layer == 3 && !mpeg1)
        length = 72 * bitrate / rate + padding;
    else
        length = 144 * bitrate / rate + padding;
    return Frame{kind, length, false};
}

bool Matches(FileBytes& bytes, std::uint64_t at, const char* text, std::uint64_t size) {
    for (std::uint64_t i = 0; i < size; ++i) {
        const auto b = bytes.At(at + i);
        if (!b || *b != static_cast<std::uint8_t>(text[i]))
            return false;
    }
    return true;
}

// An APEv2 tag that starts with its header at `at`: its end, at the matching footer.
std::optional<std::uint64_t> ApeTag(FileBytes& bytes, std::uint64_t at) {
    if (!Matches(bytes, at, "APETAGEX", 8))
        return std::nullopt;
    const auto version = bytes.Little32(at + 8);
    const auto size = bytes.Little32(at + 12);  // items and footer
    const auto flags = bytes.Little32(at + 20);
    if (!version || !size || !flags || *version != 2000 || !(*flags & 0x20000000u) ||
        *size < kApeFooter)
        return std::nullopt;
    const std::uint64_t end = at + kApeFooter + *size;
    if (end > bytes.Limit() || !Matches(bytes, end - kApeFooter, "APETAGEX", 8) ||
        bytes.Little32(end - kApeFooter + 12) != *size)
        return std::nullopt;
    return end;
}

}  // namespace

std::optional<std::uint64_t> Mp3End(FileBytes& bytes) {
    if (!Matches(bytes, 0, "ID3", 3))
        return std::nullopt;
    const auto major = bytes.At(3);
    const auto revision = bytes.At(4);
    const auto flags = bytes.At(5);
    if (!major || *major < 2 || *major > 4 || revision == 0xFF || !flags)
        return std::nullopt;
    std::uint64_t tagSize = 0;
    for (int i = 0; i < 4; ++i) {
        const auto b = bytes.At(6 + static_cast<std::uint64_t>(i));
        if (!b || (*b & 0x80))
            return std::nullopt;  // not syncsafe
        tagSize = (tagSize << 7) | *b;
    }
    std::uint64_t at = 10 + tagSize + ((*major == 4 && (*flags & 0x10)) ? 10 : 0);
    // Some taggers pad past the size they declare.
    for (std::uint64_t skipped = 0; skipped < kMaxPadding && bytes.At(at) == 0; ++skipped)
        ++at;
    std::optional<std::uint32_t> kind;
    int frames = 0;
    // Every frame takes at least 24 bytes, so the bound ends the loop.
    while (true) {
        const auto frame = ReadFrame(bytes, at);
        if (!frame || (kind && frame->kind != *kind))
            break;
        if (frame->freeFormat)
            return std::nullopt;  // its frame lengths are not in the headers
        if (frame->length > bytes.Limit() - at)
            return std::nullopt;  // cut short
        kind = frame->kind;
        at += frame->length;
        ++frames;
    }
    if (frames < kMinFrames)
        return std::nullopt;
    if (const auto ape = ApeTag(bytes, at))
        at = *ape;
    if (Matches(bytes, at, "TAG", 3) && kId3v1 <= bytes.Limit() - at)
        at += kId3v1;
    return at;
}

}  // namespace duzez::signatures
