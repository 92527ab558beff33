#include "signatures/end_walks.h"

#include "signatures/compound_end.h"
#include "signatures/image_ends.h"
#include "signatures/jpeg_end.h"
#include "signatures/mp3_end.h"
#include "signatures/ogg_end.h"
#include "signatures/pdf_end.h"
#include "signatures/rar_end.h"
#include "signatures/sevenzip_end.h"
#include "signatures/sqlite_end.h"
#include "signatures/tiff_end.h"
#include "signatures/zip_end.h"

#include <algorithm>
#include <array>

namespace duzez::signatures {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uint64_t kGiB = 1024 * kMiB;

// Sorted by format id. The bounds are how far a walk may read; the walks of formats
// that declare their sizes read headers only; those that search byte by byte have a
// budget of what they may read.
constexpr std::array kWalks{
    EndWalkEntry{100, 4 * kGiB, &CompoundDocumentEnd},  // header and FAT only
    // JPEG: its scan data is searched for the end marker.
    EndWalkEntry{300, 256 * kMiB, &JpegEnd, kSearchFetchBudget},
    EndWalkEntry{301, 512 * kMiB, &PngEnd},                      // PNG
    EndWalkEntry{302, 256 * kMiB, &GifEnd},                      // GIF
    EndWalkEntry{303, 1 * kGiB, &TiffEnd},                       // TIFF, NEF, ARW, PEF, DNG
    EndWalkEntry{310, 1 * kGiB, &TiffEnd},                       // CR2
    EndWalkEntry{312, 1 * kGiB, &TiffEnd},                       // ORF
    EndWalkEntry{313, 1 * kGiB, &TiffEnd},                       // RW2
    EndWalkEntry{411, 512 * kMiB, &Mp3End},                      // MP3
    EndWalkEntry{413, 1 * kGiB, &OggEnd},                        // every page's CRC
    EndWalkEntry{600, 512 * kMiB, &PdfEnd, kSearchFetchBudget},  // PDF: %%EOF searched
    // ZIP and those built on it: a streamed entry's descriptor is searched for.
    EndWalkEntry{700, 16 * kGiB, &ZipEnd, kSearchFetchBudget},  // ZIP, JAR, APK, EPUB
    EndWalkEntry{701, 4 * kGiB, &ZipEnd, kSearchFetchBudget},   // Office Open XML
    EndWalkEntry{702, 4 * kGiB, &ZipEnd, kSearchFetchBudget},   // OpenDocument
    EndWalkEntry{703, 16 * kGiB, &RarEnd},                      // RAR 4 and 5
    EndWalkEntry{704, 16 * kGiB, &SevenZipEnd},                 // 7-Zip
    EndWalkEntry{706, 64 * kGiB, &SqliteEnd},                   // SQLite
};
static_assert(std::is_sorted(kWalks.begin(), kWalks.end(),
                             [](const EndWalkEntry& a, const EndWalkEntry& b) {
                                 return a.formatId < b.formatId;
                             }));

}  // namespace

const EndWalkEntry* FindEndWalk(std::int32_t formatId) {
    const auto found = std::lower_bound(
        kWalks.begin(), kWalks.end(), formatId,
        [](const EndWalkEntry& entry, std::int32_t id) { return entry.formatId < id; });
    return found != kWalks.end() && found->formatId == formatId ? &*found : nullptr;
}

}  // namespace duzez::signatures
