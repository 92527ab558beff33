#pragma once

// A baseline JPEG's entropy-coded data followed just far enough to tell valid from
// invalid: every Huffman code, every block's coefficient count, restart markers where the
// interval puts them, and exactly as many MCUs as the frame holds before the end marker.
// It keeps no pixels, so trying a candidate continuation costs little, and it can stop at
// any MCU and go on with other data: what rejoining a photo's pieces needs.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace duzez::signatures {

class ScanDecoder {
  public:
    // The decoder for the JPEG whose headers `file` starts with (SOI to its first SOS); nullopt
    // for one it cannot follow: progressive or arithmetic coding, a scan that does not hold
    // every component, missing or broken tables.
    static std::optional<ScanDecoder> Open(std::span<const std::uint8_t> file);

    // Where the entropy-coded data begins in the file.
    std::uint64_t DataStart() const { return dataStart_; }
    std::uint64_t McusDone() const { return state_.mcu; }
    std::uint64_t McusInFrame() const { return totalMcus_; }
    std::uint64_t McusPerRow() const { return mcusPerRow_; }

    // From now on, the DC value of each decoded MCU's first block goes to the end of `sink`
    // (nullptr: nowhere): what tells whether the rows below a joint go on from the rows
    // above it. Not kept for frames of more than kMaxTrackedMcus.
    void TrackDc(std::vector<std::int16_t>* sink) {
        dcSink_ = totalMcus_ <= kMaxTrackedMcus ? sink : nullptr;
    }
    static constexpr std::uint64_t kMaxTrackedMcus = 4u * 1024 * 1024;

    enum class Outcome { NeedMore, Invalid, Ended };
    struct Result {
        Outcome outcome = Outcome::Invalid;
        // NeedMore: bytes of `data` used up by whole MCUs, so the next call starts at
        // data[used]. Ended: bytes through the end marker.
        std::uint64_t used = 0;
    };
    // Goes on through `data`, which continues the entropy-coded data where the last call
    // left it, stopping as though the data ran out once `stopAtMcu` MCUs are done. After
    // Invalid or Ended the decoder is spent.
    Result Feed(std::span<const std::uint8_t> data, std::uint64_t stopAtMcu = ~std::uint64_t{0});

  private:
    static constexpr int kLookupBits = 9;
    struct Table {
        // The code's length and value by the next kLookupBits bits; 0 for a longer code.
        std::array<std::uint16_t, 1u << kLookupBits> lookup{};
        std::array<std::int32_t, 18> maxCode{};  // per length; -1 when none that long
        std::array<std::int32_t, 17> offset{};   // value index minus the first code
        std::array<std::uint8_t, 256> values{};
        bool present = false;
    };
    struct Component {
        std::uint8_t id = 0;
        std::uint8_t h = 1;
        std::uint8_t v = 1;
        std::uint8_t dcTable = 0;
        std::uint8_t acTable = 0;
    };
    // Everything a step changes, so that a step cut short by the data's end can be undone.
    struct State {
        std::uint64_t mcu = 0;
        std::uint64_t bits = 0;  // bits read ahead, the oldest highest
        int bitCount = 0;
        std::uint32_t restartsToGo = 0;
        int nextRestart = 0;
        std::array<std::int32_t, 4> dc{};  // each component's DC predictor
    };
    enum class Step { Done, NeedMore, Invalid };
    class Reader;

    static bool ReadTables(std::span<const std::uint8_t> segment, std::array<Table, 4>& dc,
                           std::array<Table, 4>& ac);
    Step DecodeMcu(Reader& reader);
    Step DecodeBlock(Reader& reader, std::size_t component);
    Step AtRestart(Reader& reader);

    std::array<Table, 4> dc_{};
    std::array<Table, 4> ac_{};
    std::vector<Component> components_;  // in scan order
    std::uint32_t restartInterval_ = 0;
    std::uint64_t totalMcus_ = 0;
    std::uint64_t mcusPerRow_ = 0;
    std::vector<std::int16_t>* dcSink_ = nullptr;
    std::uint64_t dataStart_ = 0;
    State state_;
};

}  // namespace duzez::signatures
