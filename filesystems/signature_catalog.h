#pragma once

// What the found-object tree asks of the file-format database; the signature database
// answers it. Declared here so that the tree does not depend on the scanner's library.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace duzez::filesystems {

struct FoundObject;

struct FormatInfo {
    std::int32_t formatId = 0;
    std::int32_t groupId = 0;
    bool searchEnabled = true;
    std::string prefix;
    std::string firstExtension;
    std::string title;
};

class SignatureCatalog {
  public:
    virtual ~SignatureCatalog() = default;
    virtual std::optional<FormatInfo> FindFormatById(std::int32_t formatId) const = 0;
    // By SignatureId, else by the extension of the name (then SignatureId is set).
    virtual std::optional<FormatInfo> FindFormatForObject(FoundObject& object) const = 0;
    // The title of a group, when the id names one.
    virtual std::optional<std::string> GroupTitle(std::int32_t groupId) const = 0;
    // Whether a 512-byte first sector starts a file of the kind the object's name says:
    // nothing when the name tells no known kind or the kind has no header to test.
    virtual std::optional<bool> SectorFitsName(const FoundObject& /*object*/,
                                               std::span<const std::uint8_t> /*sector*/) const {
        return std::nullopt;
    }
};

}  // namespace duzez::filesystems
