#include "platform/blkid_probe.h"

#include <blkid/blkid.h>

#include <memory>

namespace duzez::platform {
namespace {

struct ProbeDeleter {
    void operator()(blkid_probe probe) const { blkid_free_probe(probe); }
};

std::string Lookup(blkid_probe probe, const char* name) {
    const char* value = nullptr;
    std::size_t length = 0;
    if (blkid_probe_lookup_value(probe, name, &value, &length) != 0 || value == nullptr) {
        return {};
    }
    // Lengths include the terminating zero.
    return std::string(value, length > 0 && value[length - 1] == '\0' ? length - 1 : length);
}

}  // namespace

std::optional<FileSystemProbe> ProbeFileSystem(const std::filesystem::path& device) {
    std::unique_ptr<std::remove_pointer_t<blkid_probe>, ProbeDeleter> probe(
        blkid_new_probe_from_filename(device.c_str()));
    if (!probe)
        return std::nullopt;
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID |
                                                       BLKID_SUBLKS_TYPE | BLKID_SUBLKS_VERSION);
    blkid_probe_enable_partitions(probe.get(), 1);
    blkid_probe_set_partitions_flags(probe.get(), BLKID_PARTS_ENTRY_DETAILS);
    if (blkid_do_safeprobe(probe.get()) != 0) {
        return std::nullopt;
    }
    FileSystemProbe result;
    result.type = Lookup(probe.get(), "TYPE");
    result.version = Lookup(probe.get(), "VERSION");
    result.label = Lookup(probe.get(), "LABEL");
    result.uuid = Lookup(probe.get(), "UUID");
    result.partitionType = Lookup(probe.get(), "PART_ENTRY_TYPE");
    if (result.type.empty() && result.partitionType.empty())
        return std::nullopt;
    return result;
}

}  // namespace duzez::platform
