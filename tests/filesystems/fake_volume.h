#pragma once

// A volume over bytes in memory that records the sector reads it is asked for, and a
// catalog of a few formats, for the tree and stream tests.

#include <map>
#include <set>
#include <vector>

#include "filesystems/found_object.h"
#include "filesystems/signature_catalog.h"
#include "filesystems/tree_volume.h"

namespace duzez::test {

class MemoryVolume : public filesystems::TreeVolume {
  public:
    explicit MemoryVolume(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

    std::uint64_t NodeId() const override { return 0xFFFFFFFFFFFEFFFFull; }
    char DriveLetterOrZero() const override { return letter; }
    std::uint64_t VolumeSize() const override { return bytes_.size(); }
    std::uint32_t ReadVolumeSectors(std::span<std::uint8_t> buffer, std::uint64_t sector,
                                    std::uint64_t count) override {
        reads.push_back({sector, count});
        if (failReads || (sector + count) * 512 > bytes_.size())
            return 0;
        for (std::uint64_t i = sector; i < sector + count; ++i) {
            if (badSectors.count(i) != 0)
                return 0;
        }
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(sector * 512), count * 512,
                    buffer.begin());
        return static_cast<std::uint32_t>(count * 512);
    }
    void CountSectorPhaseFile() override { ++carved; }

    std::vector<std::pair<std::uint64_t, std::uint64_t>> reads;
    bool failReads = false;
    std::set<std::uint64_t> badSectors;  // a read that touches one of these fails whole
    char letter = 0;
    int carved = 0;

  private:
    std::vector<std::uint8_t> bytes_;
};

class FakeCatalog : public filesystems::SignatureCatalog {
  public:
    void Add(filesystems::FormatInfo info, const std::string& extension) {
        byId_[info.formatId] = info;
        byExtension_[extension] = info.formatId;
    }
    void SetGroupTitle(std::int32_t group, std::string title) { groups_[group] = std::move(title); }

    std::optional<filesystems::FormatInfo> FindFormatById(std::int32_t id) const override {
        const auto it = byId_.find(id);
        if (it == byId_.end())
            return std::nullopt;
        return it->second;
    }
    std::optional<filesystems::FormatInfo> FindFormatForObject(
        filesystems::FoundObject& object) const override {
        if (object.SignatureId != 0) {
            if (auto found = FindFormatById(object.SignatureId))
                return found;
        }
        const auto dot = object.Name.rfind('.');
        if (dot == std::string::npos)
            return std::nullopt;
        const auto it = byExtension_.find(object.Name.substr(dot + 1));
        if (it == byExtension_.end())
            return std::nullopt;
        object.SignatureId = static_cast<std::int16_t>(it->second);
        return FindFormatById(it->second);
    }
    std::optional<std::string> GroupTitle(std::int32_t group) const override {
        const auto it = groups_.find(group);
        if (it == groups_.end())
            return std::nullopt;
        return it->second;
    }

  private:
    std::map<std::int32_t, filesystems::FormatInfo> byId_;
    std::map<std::string, std::int32_t> byExtension_;
    std::map<std::int32_t, std::string> groups_;
};

}  // namespace duzez::test
