#pragma once

// Every enabled signature tested against a sector, fast: each pattern is filed under one
// byte it tests (position and value), so a sector only meets the patterns whose filing
// byte it shows. The answer is exactly what testing every enabled signature in database
// order would give.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "signatures/signature.h"

namespace duzez::signatures {

class SignatureDatabase;

class SectorMatcher {
  public:
    // Takes the enabled signatures as they are now; build a new matcher when the
    // database's SearchEnable flags or patterns change.
    explicit SectorMatcher(const SignatureDatabase& database);

    // The signatures that match, in database order (appended to `out`, which is cleared).
    void Match(std::span<const std::uint8_t, kSectorBytes> sector,
               std::vector<const Signature*>& out) const;

    // Asks the processor for the parts of a sector Match will look at, some sectors ahead:
    // freshly read blocks are not in the cache, and waiting for each line in turn costs
    // more than the matching.
    void Prefetch(const std::uint8_t* sector) const {
        for (const std::uint16_t line : lines_)
            __builtin_prefetch(sector + line);
    }

  private:
    struct Candidate {
        std::uint32_t signatureIndex;  // position in database order
        std::uint32_t pattern;         // in patterns_
    };
    struct Position {
        std::uint16_t offset;
        std::array<std::vector<Candidate>, 256> byValue;
    };

    std::vector<const Signature*> signatures_;
    // Copies, so that editing a signature's patterns meanwhile cannot pull them away.
    std::vector<SignaturePattern> patterns_;
    std::vector<Position> positions_;
    std::vector<Candidate> always_;     // patterns with no byte to file them under
    std::vector<std::uint16_t> lines_;  // the 64-byte lines holding the filing bytes
};

}  // namespace duzez::signatures
