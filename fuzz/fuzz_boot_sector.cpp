// Boot-sector recognition and field reading on any bytes.

#include <cstdint>
#include <cstdlib>
#include <span>

#include "filesystems/boot_record.h"
#include "filesystems/file_system.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> boot(data, size);
    const std::uint32_t id = duzez::filesystems::DetectFileSystem(boot);
    namespace Ids = duzez::filesystems::FileSystemIds;
    if (id != 0 && id != Ids::Fat12 && id != Ids::Fat16 && id != Ids::Ntfs && id != Ids::Fat32 &&
        id != Ids::ExFat)
        std::abort();
    if (const auto fields = duzez::filesystems::ReadBootFields(boot, id)) {
        if (fields->fatLabel.size() > 11 * 3)
            std::abort();
    }
    return 0;
}
