#include "signatures/jpeg_scan_decoder.h"

#include <algorithm>

namespace duzez::signatures {
namespace {

constexpr int kNeedMore = -1;
constexpr int kMarker = -2;    // a marker where data should be
constexpr int kBadCode = -3;   // no code of the table matches
constexpr int kNoMarker = -4;  // data where a marker should be
constexpr int kMaxBlocksInMcu = 10;

std::uint16_t Big16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

std::uint64_t DivideUp(std::uint64_t value, std::uint64_t by) {
    return (value + by - 1) / by;
}

}  // namespace

// Bits of the entropy-coded data, stuffed zero bytes removed, read ahead into the decoder's
// state so that the next call goes on from the same bit.
class ScanDecoder::Reader {
  public:
    Reader(std::span<const std::uint8_t> data, State& state) : data_(data), state_(state) {}

    std::uint64_t Position() const { return position_; }

    int Bit() {
        if (!Ensure(1))
            return Shortfall();
        --state_.bitCount;
        return static_cast<int>((state_.bits >> state_.bitCount) & 1u);
    }

    // Skips `count` bits (a coefficient's value: any value is valid).
    int Skip(int count) {
        if (!Ensure(count))
            return Shortfall();
        state_.bitCount -= count;
        return 0;
    }

    // A coefficient of `count` bits, sign-extended as JPEG codes it; `value` set on success.
    int Receive(int count, std::int32_t& value) {
        if (count == 0) {
            value = 0;
            return 0;
        }
        if (!Ensure(count))
            return Shortfall();
        state_.bitCount -= count;
        const auto bits =
            static_cast<std::int32_t>((state_.bits >> state_.bitCount) & ((1u << count) - 1));
        value = bits >= (1 << (count - 1)) ? bits : bits - (1 << count) + 1;
        return 0;
    }

    // The padding bits of the current byte dropped, the next marker's code (fill bytes
    // before it skipped); kNoMarker when whole bytes of data stand before it.
    int Marker() {
        if (state_.bitCount >= 8)
            return kNoMarker;
        state_.bitCount = 0;
        while (position_ + 1 < data_.size() && data_[position_] == 0xFF &&
               data_[position_ + 1] == 0xFF) {
            ++position_;
        }
        if (position_ + 1 >= data_.size())
            return kNeedMore;
        if (data_[position_] != 0xFF)
            return kNoMarker;
        const int code = data_[position_ + 1];
        position_ += 2;
        atMarker_ = false;
        return code;
    }

    int Decode(const Table& table) {
        if (Ensure(kLookupBits)) {
            const auto entry = table.lookup[static_cast<std::size_t>(
                (state_.bits >> (state_.bitCount - kLookupBits)) & ((1u << kLookupBits) - 1))];
            if (entry != 0) {
                state_.bitCount -= entry >> 8;
                return entry & 0xFF;
            }
        }
        std::int32_t code = 0;
        for (int length = 1; length <= 16; ++length) {
            const int bit = Bit();
            if (bit < 0)
                return bit;
            code = (code << 1) | bit;
            if (code <= table.maxCode[static_cast<std::size_t>(length)])
                return table.values[static_cast<std::size_t>(
                    table.offset[static_cast<std::size_t>(length)] + code)];
        }
        return kBadCode;
    }

  private:
    // At least `count` bits at hand, reading ahead as far as the data and markers allow.
    bool Ensure(int count) {
        while (state_.bitCount < count && state_.bitCount <= 56) {
            if (position_ >= data_.size())
                return false;
            const std::uint8_t b = data_[position_];
            if (b == 0xFF) {
                if (position_ + 1 >= data_.size())
                    return false;
                if (data_[position_ + 1] != 0x00) {
                    atMarker_ = true;
                    return false;
                }
                ++position_;
            }
            ++position_;
            state_.bits = (state_.bits << 8) | b;
            state_.bitCount += 8;
        }
        return state_.bitCount >= count;
    }
    int Shortfall() const { return atMarker_ ? kMarker : kNeedMore; }

    std::span<const std::uint8_t> data_;
    State& state_;
    std::uint64_t position_ = 0;
    bool atMarker_ = false;
};

bool ScanDecoder::ReadTables(std::span<const std::uint8_t> segment, std::array<Table, 4>& dc,
                             std::array<Table, 4>& ac) {
    std::size_t at = 0;
    while (at < segment.size()) {
        if (at + 17 > segment.size())
            return false;
        const std::uint8_t kind = segment[at] >> 4;
        const std::uint8_t id = segment[at] & 15;
        if (kind > 1 || id > 3)
            return false;
        Table table;
        table.maxCode.fill(-1);
        std::size_t count = 0;
        std::int32_t code = 0;
        for (int length = 1; length <= 16; ++length) {
            const std::uint8_t n = segment[at + static_cast<std::size_t>(length)];
            table.offset[static_cast<std::size_t>(length)] =
                static_cast<std::int32_t>(count) - code;
            code += n;
            count += n;
            // More codes than this length can hold: no prefix code.
            if (code > (1 << length))
                return false;
            if (n != 0)
                table.maxCode[static_cast<std::size_t>(length)] = code - 1;
            code <<= 1;
        }
        if (count > 256 || at + 17 + count > segment.size())
            return false;
        std::copy_n(segment.begin() + static_cast<std::ptrdiff_t>(at + 17), count,
                    table.values.begin());
        // Codes of up to kLookupBits bits, found by one look at the next bits.
        std::size_t index = 0;
        code = 0;
        for (int length = 1; length <= 16; ++length) {
            for (int n = 0; n < segment[at + static_cast<std::size_t>(length)]; ++n, ++index) {
                if (length <= kLookupBits) {
                    const int spare = kLookupBits - length;
                    for (int fill = 0; fill < (1 << spare); ++fill) {
                        table.lookup[static_cast<std::size_t>((code << spare) | fill)] =
                            static_cast<std::uint16_t>((length << 8) | table.values[index]);
                    }
                }
                ++code;
            }
            code <<= 1;
        }
        table.present = true;
        (kind == 0 ? dc : ac)[id] = table;
        at += 17 + count;
    }
    return true;
}

std::optional<ScanDecoder> ScanDecoder::Open(std::span<const std::uint8_t> file) {
    if (file.size() < 4 || file[0] != 0xFF || file[1] != 0xD8)
        return std::nullopt;
    ScanDecoder decoder;
    struct FrameComponent {
        std::uint8_t id, h, v;
    };
    std::vector<FrameComponent> frame;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::size_t at = 2;
    while (at + 4 <= file.size()) {
        if (file[at] != 0xFF)
            return std::nullopt;
        const std::uint8_t marker = file[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        if (marker == 0xD8 || marker == 0xD9 || (marker >= 0xD0 && marker <= 0xD7))
            return std::nullopt;
        const std::size_t length = Big16(file, at + 2);
        if (length < 2 || at + 2 + length > file.size())
            return std::nullopt;
        const std::span<const std::uint8_t> segment = file.subspan(at + 4, length - 2);
        at += 2 + length;
        if (marker == 0xC0 || marker == 0xC1) {
            if (segment.size() < 6 || segment[0] != 8)
                return std::nullopt;
            height = Big16(segment, 1);
            width = Big16(segment, 3);
            const std::size_t count = segment[5];
            if (height == 0 || width == 0 || count == 0 || count > 4 ||
                segment.size() < 6 + 3 * count) {
                return std::nullopt;
            }
            frame.clear();
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint8_t hv = segment[6 + 3 * i + 1];
                const auto h = static_cast<std::uint8_t>(hv >> 4);
                const auto v = static_cast<std::uint8_t>(hv & 15);
                if (h < 1 || h > 4 || v < 1 || v > 4)
                    return std::nullopt;
                frame.push_back({segment[6 + 3 * i], h, v});
            }
        } else if (marker >= 0xC2 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                   marker != 0xCC) {
            return std::nullopt;  // progressive, lossless or arithmetic
        } else if (marker == 0xC4) {
            if (!ReadTables(segment, decoder.dc_, decoder.ac_))
                return std::nullopt;
        } else if (marker == 0xDD) {
            if (segment.size() < 2)
                return std::nullopt;
            decoder.restartInterval_ = Big16(segment, 0);
        } else if (marker == 0xDA) {
            if (frame.empty() || segment.empty())
                return std::nullopt;
            const std::size_t count = segment[0];
            // One scan holding every component: what a baseline camera JPEG is.
            if (count != frame.size() || segment.size() < 1 + 2 * count + 3)
                return std::nullopt;
            const std::size_t tail = 1 + 2 * count;
            if (segment[tail] != 0 || segment[tail + 1] != 63 || segment[tail + 2] != 0)
                return std::nullopt;
            int blocks = 0;
            std::uint8_t maxH = 1;
            std::uint8_t maxV = 1;
            for (const FrameComponent& c : frame) {
                maxH = std::max(maxH, c.h);
                maxV = std::max(maxV, c.v);
            }
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint8_t id = segment[1 + 2 * i];
                const std::uint8_t tables = segment[2 + 2 * i];
                const auto found =
                    std::find_if(frame.begin(), frame.end(),
                                 [id](const FrameComponent& c) { return c.id == id; });
                if (found == frame.end())
                    return std::nullopt;
                Component component;
                component.id = id;
                component.h = count == 1 ? 1 : found->h;
                component.v = count == 1 ? 1 : found->v;
                component.dcTable = tables >> 4;
                component.acTable = tables & 15;
                if (component.dcTable > 3 || component.acTable > 3 ||
                    !decoder.dc_[component.dcTable].present ||
                    !decoder.ac_[component.acTable].present) {
                    return std::nullopt;
                }
                blocks += component.h * component.v;
                decoder.components_.push_back(component);
            }
            if (blocks > kMaxBlocksInMcu)
                return std::nullopt;
            decoder.totalMcus_ = count == 1
                                     ? DivideUp(width, 8) * DivideUp(height, 8)
                                     : DivideUp(width, 8u * maxH) * DivideUp(height, 8u * maxV);
            decoder.mcusPerRow_ = count == 1 ? DivideUp(width, 8) : DivideUp(width, 8u * maxH);
            decoder.dataStart_ = at;
            decoder.state_.restartsToGo = decoder.restartInterval_;
            return decoder;
        }
    }
    return std::nullopt;
}

ScanDecoder::Step ScanDecoder::DecodeBlock(Reader& reader, std::size_t index) {
    const Component& component = components_[index];
    const auto fail = [](int code) { return code == kNeedMore ? Step::NeedMore : Step::Invalid; };
    const int size = reader.Decode(dc_[component.dcTable]);
    if (size < 0)
        return fail(size);
    if (size > 11)
        return Step::Invalid;
    std::int32_t difference = 0;
    if (const int got = reader.Receive(size, difference); got < 0)
        return fail(got);
    state_.dc[index] += difference;
    for (int k = 1; k < 64;) {
        const int symbol = reader.Decode(ac_[component.acTable]);
        if (symbol < 0)
            return fail(symbol);
        const int run = symbol >> 4;
        const int bits = symbol & 15;
        if (bits == 0) {
            if (run != 15)
                break;  // end of block
            k += 16;
            if (k > 64)
                return Step::Invalid;
            continue;
        }
        k += run;
        if (k > 63 || bits > 10)
            return Step::Invalid;
        if (const int skipped = reader.Skip(bits); skipped < 0)
            return fail(skipped);
        ++k;
    }
    return Step::Done;
}

ScanDecoder::Step ScanDecoder::DecodeMcu(Reader& reader) {
    std::int32_t firstDc = 0;
    for (std::size_t index = 0; index < components_.size(); ++index) {
        const Component& component = components_[index];
        for (int block = 0; block < component.h * component.v; ++block) {
            if (const Step step = DecodeBlock(reader, index); step != Step::Done)
                return step;
            if (index == 0 && block == 0)
                firstDc = state_.dc[0];
        }
    }
    if (dcSink_ != nullptr)
        dcSink_->push_back(static_cast<std::int16_t>(std::clamp(firstDc, -32768, 32767)));
    return Step::Done;
}

ScanDecoder::Result ScanDecoder::Feed(std::span<const std::uint8_t> data, std::uint64_t stopAtMcu) {
    Reader reader(data, state_);
    std::uint64_t used = 0;
    while (true) {
        const State before = state_;
        if (state_.mcu >= stopAtMcu && state_.mcu < totalMcus_)
            return {Outcome::NeedMore, used};
        if (state_.mcu == totalMcus_) {
            const int code = reader.Marker();
            if (code == kNeedMore) {
                state_ = before;
                return {Outcome::NeedMore, used};
            }
            return code == 0xD9 ? Result{Outcome::Ended, reader.Position()} : Result{};
        }
        if (restartInterval_ != 0 && state_.restartsToGo == 0) {
            const int code = reader.Marker();
            if (code == kNeedMore) {
                state_ = before;
                return {Outcome::NeedMore, used};
            }
            if (code != 0xD0 + state_.nextRestart)
                return {};
            state_.nextRestart = (state_.nextRestart + 1) & 7;
            state_.restartsToGo = restartInterval_;
            state_.dc = {};
            used = reader.Position();  // the next call starts after the marker
        }
        const State atMcu = state_;
        const Step step = DecodeMcu(reader);
        if (step == Step::NeedMore) {
            state_ = atMcu;
            return {Outcome::NeedMore, used};
        }
        if (step == Step::Invalid)
            return {};
        ++state_.mcu;
        if (restartInterval_ != 0)
            --state_.restartsToGo;
        used = reader.Position();
    }
}

}  // namespace duzez::signatures
