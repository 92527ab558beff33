// The end-of-file walks of archives, PDF and SQLite over any bytes: the input is a file at
// the start of a small volume, and no walk may claim an end beyond it.

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "fuzz/memory_reader.h"
#include "signatures/file_bytes.h"
#include "signatures/pdf_end.h"
#include "signatures/rar_end.h"
#include "signatures/sevenzip_end.h"
#include "signatures/sqlite_end.h"
#include "signatures/zip_end.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const duzez::signatures::SectorReader read = duzez::fuzz::MemoryReader({data, size});
    for (const auto walk :
         {&duzez::signatures::ZipEnd, &duzez::signatures::PdfEnd, &duzez::signatures::SevenZipEnd,
          &duzez::signatures::RarEnd, &duzez::signatures::SqliteEnd}) {
        duzez::signatures::FileBytes bytes(0, size, read);
        const auto end = walk(bytes);
        if (end && *end > size)
            std::abort();
    }
    return 0;
}
