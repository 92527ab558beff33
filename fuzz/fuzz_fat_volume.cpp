// The whole FAT analysis over a volume made of the input bytes: it must end without a
// crash or an unbounded allocation, whatever the boot sector, table and directories say.

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "filesystems/boot_record.h"
#include "filesystems/fat/file_system_fat.h"
#include "fuzz/memory_volume.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto& log = duzez::fuzz::FuzzLog("duzez-fuzz-fat");
    if (size < 512)
        return 0;
    duzez::fuzz::MemoryVolume volume(std::vector<std::uint8_t>(data, data + size), log);
    duzez::filesystems::CFileSystem_FAT analyser(volume);
    analyser.FileSystemId = duzez::filesystems::DetectFileSystem(volume.BootSectorBytes());
    if (analyser.FileSystemId == 0)
        analyser.FileSystemId = 4;  // try FAT16 on anything
    analyser.Analyse();
    return 0;
}
