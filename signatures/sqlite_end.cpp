#include "signatures/sqlite_end.h"

namespace duzez::signatures {

std::optional<std::uint64_t> SqliteEnd(FileBytes& bytes) {
    static constexpr char kMagic[] = "SQLite format 3";  // with its NUL, 16 bytes
    for (std::uint64_t i = 0; i < sizeof kMagic; ++i) {
        const auto b = bytes.At(i);
        if (!b || *b != static_cast<std::uint8_t>(kMagic[i]))
            return std::nullopt;
    }
    const auto pageField = bytes.Big16(16);
    const auto writeVersion = bytes.At(18);
    const auto readVersion = bytes.At(19);
    const auto reserved = bytes.At(20);
    const auto maxFraction = bytes.At(21);
    const auto minFraction = bytes.At(22);
    const auto leafFraction = bytes.At(23);
    const auto changeCounter = bytes.Big32(24);
    const auto pages = bytes.Big32(28);
    const auto validFor = bytes.Big32(92);
    if (!pageField || !writeVersion || !readVersion || !reserved || !maxFraction || !minFraction ||
        !leafFraction || !changeCounter || !pages || !validFor)
        return std::nullopt;
    const std::uint64_t pageSize = *pageField == 1 ? 65536 : *pageField;
    if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0)
        return std::nullopt;
    // Fixed values; anything else is not a database this header describes.
    if (*writeVersion < 1 || *writeVersion > 2 || *readVersion < 1 || *readVersion > 2 ||
        *maxFraction != 64 || *minFraction != 32 || *leafFraction != 32 ||
        pageSize - *reserved < 480)
        return std::nullopt;
    // Versions before 3.7.0 left the count stale; the counter tells.
    if (*pages == 0 || *validFor != *changeCounter)
        return std::nullopt;
    const std::uint64_t size = pageSize * *pages;
    if (size > bytes.Limit())
        return std::nullopt;
    return size;
}

}  // namespace duzez::signatures
