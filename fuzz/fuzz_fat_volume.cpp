// The whole FAT analysis over a volume made of the input bytes: it must end without a
// crash or an unbounded allocation, whatever the boot sector, table and directories say.

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "core/app.h"
#include "core/log.h"
#include "filesystems/analysed_volume.h"
#include "filesystems/boot_record.h"
#include "filesystems/fat/file_system_fat.h"
#include "filesystems/found_object_tree.h"

namespace {

class MemoryVolume : public duzez::filesystems::AnalysedVolume {
  public:
    MemoryVolume(const std::uint8_t* data, std::size_t size, duzez::core::CLog& log)
        : bytes_(data, data + size), log_(log), tree_(this, nullptr, nullptr) {
        std::memcpy(boot_, bytes_.data(), std::min<std::size_t>(size, sizeof boot_));
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
    void AddFileSystemObject(const duzez::filesystems::FoundObject& record) override {
        tree_.MergeObject(record);
    }
    bool AnalysisRunning() const override { return true; }
    duzez::filesystems::FoundObjectTree& Tree() override { return tree_; }
    duzez::core::CLog& Log() override { return log_; }

  private:
    std::vector<std::uint8_t> bytes_;
    std::uint8_t boot_[1024] = {};
    duzez::core::CLog& log_;
    duzez::filesystems::FoundObjectTree tree_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static duzez::core::CApp app([] {
        duzez::core::CAppOptions options;
        options.storePath =
            std::filesystem::temp_directory_path() / "duzez-fuzz-fat" / "registry.reg";
        options.languageFolder = std::filesystem::temp_directory_path() / "duzez-fuzz-fat";
        return options;
    }());
    static duzez::core::CLog log(app);
    if (size < 512)
        return 0;
    MemoryVolume volume(data, size, log);
    duzez::filesystems::CFileSystem_FAT analyser(volume);
    analyser.FileSystemId = duzez::filesystems::DetectFileSystem(volume.BootSectorBytes());
    if (analyser.FileSystemId == 0)
        analyser.FileSystemId = 4;  // try FAT16 on anything
    analyser.Analyse();
    return 0;
}
