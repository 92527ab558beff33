// The end walks of JPEG (with what its MPF index and XMP declare), Ogg, MP3 and the
// compound document over any bytes: the input is a file at the start of a small volume,
// and no walk may claim an end beyond the bound it was given.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "signatures/compound_end.h"
#include "signatures/file_bytes.h"
#include "signatures/jpeg_end.h"
#include "signatures/mp3_end.h"
#include "signatures/ogg_end.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using duzez::signatures::FileBytes;
    const duzez::signatures::SectorReader read = [&](std::span<std::uint8_t> buffer,
                                                     std::uint64_t sector,
                                                     std::uint64_t count) -> std::uint32_t {
        if (sector * 512 >= size)
            return 0;
        std::memset(buffer.data(), 0, buffer.size());
        std::memcpy(buffer.data(), data + sector * 512,
                    std::min<std::size_t>(count * 512, size - sector * 512));
        return static_cast<std::uint32_t>(count * 512);
    };
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
