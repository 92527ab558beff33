#include "signatures/sector_matcher.h"

#include <algorithm>
#include <optional>

#include "signatures/signature_database.h"

namespace duzez::signatures {
namespace {

// The tested byte to file a pattern under: the first one whose value is rare in sectors
// (not 0x00 or 0xFF) when there is one, else the first tested byte.
std::optional<std::uint16_t> FilingOffset(const SignaturePattern& pattern) {
    if (pattern.CheckByBits)
        return std::nullopt;  // bit tests say what must be clear
    std::optional<std::uint16_t> first;
    const std::size_t length = std::min<std::size_t>(pattern.CompareLength, kSectorBytes);
    for (std::size_t j = 0; j < length; ++j) {
        if (pattern.Mask[j] == 0)
            continue;
        if (!first)
            first = static_cast<std::uint16_t>(j);
        if (pattern.Value[j] != 0x00 && pattern.Value[j] != 0xFF) {
            return static_cast<std::uint16_t>(j);
        }
    }
    return first;
}

}  // namespace

SectorMatcher::SectorMatcher(const SignatureDatabase& database) {
    for (const auto& signature : database.Signatures()) {
        if (signature->SearchEnable.load() == 0)
            continue;
        const auto index = static_cast<std::uint32_t>(signatures_.size());
        signatures_.push_back(signature.get());
        for (const SignaturePattern& pattern : signature->Patterns) {
            const auto patternIndex = static_cast<std::uint32_t>(patterns_.size());
            patterns_.push_back(pattern);
            const auto offset = FilingOffset(pattern);
            if (!offset) {
                always_.push_back({index, patternIndex});
                continue;
            }
            auto position = std::find_if(positions_.begin(), positions_.end(),
                                         [&](const Position& p) { return p.offset == *offset; });
            if (position == positions_.end()) {
                positions_.push_back({*offset, {}});
                position = positions_.end() - 1;
            }
            position->byValue[pattern.Value[*offset]].push_back({index, patternIndex});
        }
    }
    for (const Position& position : positions_) {
        const auto line = static_cast<std::uint16_t>(position.offset / 64 * 64);
        if (std::find(lines_.begin(), lines_.end(), line) == lines_.end())
            lines_.push_back(line);
    }
}

void SectorMatcher::Match(std::span<const std::uint8_t, kSectorBytes> sector,
                          std::vector<const Signature*>& out) const {
    out.clear();
    // Most sectors meet no candidate at all; only then is any sorting needed.
    std::uint32_t matched[64];
    std::size_t count = 0;
    std::vector<std::uint32_t> overflow;
    const auto consider = [&](const Candidate& candidate) {
        if (!patterns_[candidate.pattern].Matches(sector))
            return;
        if (count < std::size(matched)) {
            matched[count++] = candidate.signatureIndex;
        } else {
            overflow.push_back(candidate.signatureIndex);
        }
    };
    for (const Position& position : positions_) {
        for (const Candidate& candidate : position.byValue[sector[position.offset]]) {
            consider(candidate);
        }
    }
    for (const Candidate& candidate : always_)
        consider(candidate);
    if (count == 0)
        return;
    std::vector<std::uint32_t> indexes(matched, matched + count);
    indexes.insert(indexes.end(), overflow.begin(), overflow.end());
    std::sort(indexes.begin(), indexes.end());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    for (const std::uint32_t index : indexes)
        out.push_back(signatures_[index]);
}

}  // namespace duzez::signatures
