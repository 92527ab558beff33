#pragma once

// A volume over bytes in memory for the file-system harnesses: reads past the end come
// back as zeros, as a device would not, so that the analysers meet every length.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/app.h"
#include "core/log.h"
#include "filesystems/analysed_volume.h"
#include "filesystems/found_object_tree.h"

namespace duzez::fuzz {

class MemoryVolume : public filesystems::AnalysedVolume {
  public:
    MemoryVolume(std::vector<std::uint8_t> bytes, core::CLog& log)
        : bytes_(std::move(bytes)), log_(log), tree_(this, nullptr, nullptr) {
        std::memcpy(boot_, bytes_.data(), std::min(bytes_.size(), sizeof boot_));
    }
    std::uint64_t NodeId() const override { return 1; }
    char DriveLetterOrZero() const override { return 0; }
    std::uint64_t VolumeSize() const override { return bytes_.size(); }
    std::uint32_t ReadVolumeSectors(std::span<std::uint8_t> buffer, std::uint64_t sector,
                                    std::uint64_t count) override {
        if (count * 512 > buffer.size() || sector > bytes_.size() / 512)
            return 0;
        const std::uint64_t at = sector * 512;
        const std::uint64_t take = std::min<std::uint64_t>(count * 512, bytes_.size() - at);
        std::memcpy(buffer.data(), bytes_.data() + at, take);
        std::memset(buffer.data() + take, 0, count * 512 - take);
        return static_cast<std::uint32_t>(count * 512);
    }
    void CountSectorPhaseFile() override {}
    std::span<const std::uint8_t> BootSectorBytes() const override { return boot_; }
    std::uint64_t SectorCount() const override { return bytes_.size() / 512; }
    std::uint64_t ClusterCount() const override { return bytes_.size() / 512; }
    void SetClusterGeometry(std::uint32_t, std::uint32_t) override {}
    void AddFileSystemObject(const filesystems::FoundObject& record) override {
        tree_.MergeObject(record);
    }
    bool AnalysisRunning() const override { return true; }
    filesystems::FoundObjectTree& Tree() override { return tree_; }
    core::CLog& Log() override { return log_; }

  private:
    std::vector<std::uint8_t> bytes_;
    std::uint8_t boot_[1024] = {};
    core::CLog& log_;
    filesystems::FoundObjectTree tree_;
};

// The log of a harness, over an application whose store lies in a folder of its own.
inline core::CLog& FuzzLog(const std::string& name) {
    static core::CApp app([&name] {
        core::CAppOptions options;
        const auto folder = std::filesystem::temp_directory_path() / name;
        options.storePath = folder / "registry.reg";
        options.languageFolder = folder;
        return options;
    }());
    static core::CLog log(app);
    return log;
}

}  // namespace duzez::fuzz
