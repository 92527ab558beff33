// The EXIF reader over any bytes: both readers must end, read nothing past the input, and
// hand back only facts a file name can be made from.

#include <cstdint>
#include <cstdlib>
#include <span>

#include "signatures/exif_reader.h"

namespace {

void Check(const std::optional<duzez::signatures::PhotoFacts>& facts) {
    if (!facts)
        return;
    for (const std::string* text : {&facts->make, &facts->model}) {
        for (const char c : *text) {
            if (c < 0x20 || c > 0x7E)
                std::abort();
        }
    }
    if (facts->captured.has_value() != facts->capturedUnix.has_value())
        std::abort();
    const std::string name = duzez::signatures::PhotoName(*facts);
    if (name.size() > 100 || name.empty() == facts->captured.has_value())
        std::abort();
    for (const char c : name) {
        if (c < 0x20 || c > 0x7E || c == '/' || c == '\\' || c == ':')
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    Check(duzez::signatures::ReadJpegExif(bytes));
    Check(duzez::signatures::ReadTiffExif(bytes));
    return 0;
}
