// The end walks of JPEG (with what its MPF index and XMP declare), Ogg, MP3 and the
// compound document over any bytes: the input is a file at the start of a small volume,
// and no walk may claim an end beyond the bound it was given.

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "fuzz/memory_reader.h"
#include "signatures/compound_end.h"
#include "signatures/file_bytes.h"
#include "signatures/jpeg_end.h"
#include "signatures/mp3_end.h"
#include "signatures/ogg_end.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using duzez::signatures::FileBytes;
    const duzez::signatures::SectorReader read = duzez::fuzz::MemoryReader({data, size});
    // The whole volume, and a bound inside it as a cut-off file meets.
    for (const std::uint64_t limit : {std::uint64_t{size}, std::uint64_t{size} / 2}) {
        for (const auto walk :
             {duzez::signatures::JpegEnd, duzez::signatures::OggEnd, duzez::signatures::Mp3End,
              duzez::signatures::CompoundDocumentEnd}) {
            FileBytes bytes(0, limit, read);
            const auto end = walk(bytes);
            if (end && *end > limit)
                std::abort();
        }
    }
    return 0;
}
