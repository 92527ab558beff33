#pragma once

// A bounded EXIF reader: the capture time and camera of a carved photo, to name it by, and
// what kind of TIFF-based RAW a file is. Every offset and count is checked against the bytes
// given; nothing is read or allocated beyond them.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace duzez::signatures {

struct PhotoFacts {
    // DateTimeOriginal (0x9003), else DateTime (0x0132), as written ("2023:07:14 10:32:05"),
    // only when it is a plausible date and time (years 1970 to 2100).
    std::optional<std::string> captured;
    // `captured` in seconds since 1970, the camera's wall time taken as UTC unless the
    // matching offset (0x9011 for DateTimeOriginal, 0x9010 for DateTime) says otherwise.
    std::optional<std::int64_t> capturedUnix;
    std::string make;   // 0x010F of IFD0, trimmed; empty unless all printable ASCII
    std::string model;  // 0x0110 of IFD0, the same way
    // "cr2", "nef", "arw", "dng", "orf", "rw2", "pef", or empty for a plain TIFF. Only
    // ReadTiffExif sets it: a JPEG from a Nikon is no NEF.
    std::string rawKind;
};

// From a JPEG's first bytes: the first APP1 "Exif" segment between SOI and SOS whose TIFF
// block holds a readable IFD0; nullopt when there is none.
std::optional<PhotoFacts> ReadJpegExif(std::span<const std::uint8_t> bytes);

// From a TIFF or TIFF-based RAW file's first bytes ("II*\0", "MM\0*", ORF's "IIRO", "IIRS"
// and "MMOR", RW2's "IIU\0"); nullopt unless the header and IFD0 are readable.
std::optional<PhotoFacts> ReadTiffExif(std::span<const std::uint8_t> bytes);

// "2023-07-14 10-32-05 Canon EOS 80D": the capture time with ':' as '-', then the model,
// led by the make's first word when the model does not already start with it. Characters
// that are not printable ASCII or are unsafe in file names become '_'; at most 100 bytes.
// Empty without a capture time.
std::string PhotoName(const PhotoFacts& facts);

}  // namespace duzez::signatures
