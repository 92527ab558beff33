// The probes of carved files over any bytes: the first-sector probes (compound document
// size and subtype, the size fields, the 32 KiB start) and the end-of-file walks of photos
// and media, which must end within their bound and never claim an end beyond the volume.

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "fuzz/memory_reader.h"
#include "signatures/probes.h"
#include "signatures/signature.h"
#include "signatures/structure_probes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const duzez::signatures::SectorReader read = duzez::fuzz::MemoryReader({data, size});
    for (const std::int32_t format :
         {300, 301, 302, 303, 310, 312, 313, 317, 400, 401, 402, 403, 410}) {
        const auto end = duzez::signatures::FindStructuralEnd(format, 0, size, read);
        if (end && *end > size)
            std::abort();
    }
    if (size >= 512) {
        namespace F = duzez::signatures::FormatIds;
        const std::span<const std::uint8_t, 512> sector(data, 512);
        for (const std::int32_t format :
             {F::CompoundDocument, F::SizeAtByte4, F::SizeAtByte2, F::StartsBefore32K}) {
            duzez::filesystems::FoundObject item;
            item.SignatureId = static_cast<std::int16_t>(format);
            item.Start = 40960;
            duzez::signatures::ProbeItem(item, sector, read);
        }
    }
    return 0;
}
