#include "signatures/exif_reader.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <string_view>

namespace duzez::signatures {
namespace {

// A chain longer than this is garbage or a trap; real files have two or three IFDs.
constexpr std::size_t kMaxIfds = 16;
// Real IFDs hold a few hundred entries at most; a larger count means the bytes are noise.
constexpr std::uint16_t kMaxEntries = 1024;
// No make, model or date is this long; a longer text is noise.
constexpr std::size_t kMaxText = 256;
constexpr std::size_t kMaxName = 100;

constexpr std::uint16_t kMake = 0x010F;
constexpr std::uint16_t kModel = 0x0110;
constexpr std::uint16_t kDateTime = 0x0132;
constexpr std::uint16_t kExifIfd = 0x8769;
constexpr std::uint16_t kDngVersion = 0xC612;
constexpr std::uint16_t kDateTimeOriginal = 0x9003;
constexpr std::uint16_t kOffsetTime = 0x9010;
constexpr std::uint16_t kOffsetTimeOriginal = 0x9011;

constexpr std::uint16_t kTypeByte = 1;
constexpr std::uint16_t kTypeAscii = 2;
constexpr std::uint16_t kTypeLong = 4;
constexpr std::uint16_t kTypeIfd = 13;

// Bytes per value of each field type; 0 for types we cannot size.
std::uint64_t TypeSize(std::uint16_t type) {
    switch (type) {
        case 1:
        case 2:
        case 6:
        case 7:
            return 1;
        case 3:
        case 8:
            return 2;
        case 4:
        case 9:
        case 11:
        case 13:
            return 4;
        case 5:
        case 10:
        case 12:
            return 8;
        default:
            return 0;
    }
}

struct Entry {
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::uint64_t valueAt = 0;  // where the value's bytes start, already bounds-checked
};

struct Ifd {
    std::uint64_t at = 0;
    std::uint32_t readable = 0;  // entries that lie within the bytes
    bool whole = false;          // all entries and the next-IFD offset lie within
};

enum class Magic { Tiff, Orf, Rw2 };

// A TIFF block: offsets are from its first byte, and nothing past its last is read.
class Tiff {
  public:
    static std::optional<Tiff> Open(std::span<const std::uint8_t> bytes) {
        if (bytes.size() < 8)
            return std::nullopt;
        Tiff tiff(bytes);
        if (bytes[0] == 'I' && bytes[1] == 'I')
            tiff.little_ = true;
        else if (bytes[0] == 'M' && bytes[1] == 'M')
            tiff.little_ = false;
        else
            return std::nullopt;
        const std::uint16_t magic = *tiff.U16(2);
        if (magic == 42)
            tiff.magic_ = Magic::Tiff;
        else if (magic == 0x4F52 || magic == 0x5352)  // ORF's "RO" and "RS"
            tiff.magic_ = Magic::Orf;
        else if (magic == 0x55 && tiff.little_)  // RW2's "U"
            tiff.magic_ = Magic::Rw2;
        else
            return std::nullopt;
        tiff.first_ = *tiff.U32(4);
        return tiff;
    }

    Magic magic() const { return magic_; }
    std::uint32_t first() const { return first_; }
    std::span<const std::uint8_t> bytes() const { return bytes_; }

    std::optional<Ifd> ReadIfd(std::uint64_t at) const {
        if (at < 8)  // the header is no IFD
            return std::nullopt;
        const auto count = U16(at);
        if (!count || *count == 0 || *count > kMaxEntries)
            return std::nullopt;
        // A truncated capture still yields the entries it holds.
        const std::uint64_t fit = (bytes_.size() - at - 2) / 12;
        Ifd ifd;
        ifd.at = at;
        ifd.readable = static_cast<std::uint32_t>(std::min<std::uint64_t>(*count, fit));
        ifd.whole = bytes_.size() - at - 2 >= 12ull * *count + 4;
        return ifd;
    }

    std::optional<std::uint32_t> Next(const Ifd& ifd) const {
        if (!ifd.whole)
            return std::nullopt;
        const auto next = U32(ifd.at + 2 + 12ull * ifd.readable);
        if (!next || *next == 0)
            return std::nullopt;
        return next;
    }

    // The first entry with `tag`; nullopt when its value does not lie wholly within the bytes.
    std::optional<Entry> Find(const Ifd& ifd, std::uint16_t tag) const {
        for (std::uint32_t i = 0; i < ifd.readable; ++i) {
            const std::uint64_t at = ifd.at + 2 + 12ull * i;
            if (*U16(at) != tag)
                continue;
            Entry entry;
            entry.type = *U16(at + 2);
            entry.count = *U32(at + 4);
            const std::uint64_t size = TypeSize(entry.type) * entry.count;
            if (size == 0)
                return std::nullopt;
            entry.valueAt = size <= 4 ? at + 8 : *U32(at + 8);
            if (entry.valueAt > bytes_.size() || size > bytes_.size() - entry.valueAt)
                return std::nullopt;
            return entry;
        }
        return std::nullopt;
    }

    // An ASCII value up to its NUL (or its count when it has none).
    std::optional<std::string> Text(const Ifd& ifd, std::uint16_t tag) const {
        const auto entry = Find(ifd, tag);
        if (!entry || entry->type != kTypeAscii)
            return std::nullopt;
        std::string text;
        for (std::uint32_t i = 0; i < entry->count; ++i) {
            const char c = static_cast<char>(bytes_[entry->valueAt + i]);
            if (c == '\0')
                break;
            if (text.size() == kMaxText)
                return std::nullopt;
            text.push_back(c);
        }
        return text;
    }

    std::optional<std::uint32_t> Offset(const Ifd& ifd, std::uint16_t tag) const {
        const auto entry = Find(ifd, tag);
        if (!entry || entry->count != 1 || (entry->type != kTypeLong && entry->type != kTypeIfd))
            return std::nullopt;
        return U32(entry->valueAt);
    }

    std::optional<std::uint16_t> U16(std::uint64_t at) const {
        if (at > bytes_.size() || bytes_.size() - at < 2)
            return std::nullopt;
        const std::uint16_t a = bytes_[at];
        const std::uint16_t b = bytes_[at + 1];
        return static_cast<std::uint16_t>(little_ ? (b << 8) | a : (a << 8) | b);
    }
    std::optional<std::uint32_t> U32(std::uint64_t at) const {
        if (at > bytes_.size() || bytes_.size() - at < 4)
            return std::nullopt;
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const std::uint32_t b = bytes_[at + static_cast<std::uint64_t>(little_ ? 3 - i : i)];
            value = (value << 8) | b;
        }
        return value;
    }

  private:
    explicit Tiff(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::span<const std::uint8_t> bytes_;
    bool little_ = true;
    Magic magic_ = Magic::Tiff;
    std::uint32_t first_ = 0;
};

// The IFDs already read, so a chain that points back on itself ends.
class Visited {
  public:
    // False when `at` was read before or the budget is spent.
    bool Take(std::uint64_t at) {
        if (count_ == seen_.size())
            return false;
        if (std::find(seen_.begin(), seen_.begin() + static_cast<std::ptrdiff_t>(count_), at) !=
            seen_.begin() + static_cast<std::ptrdiff_t>(count_))
            return false;
        seen_[count_++] = at;
        return true;
    }

  private:
    std::array<std::uint64_t, kMaxIfds> seen_{};
    std::size_t count_ = 0;
};

bool Printable(char c) {
    return c >= 0x20 && c <= 0x7E;
}

// Trimmed, or empty when any character is not printable ASCII: such bytes are noise.
std::string CleanText(const std::optional<std::string>& text) {
    if (!text)
        return {};
    for (const char c : *text) {
        if (!Printable(c))
            return {};
    }
    const auto begin = text->find_first_not_of(' ');
    if (begin == std::string::npos)
        return {};
    const auto end = text->find_last_not_of(' ');
    return text->substr(begin, end - begin + 1);
}

bool Digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// "YYYY:MM:DD HH:MM:SS" as seconds since 1970, the wall time taken as UTC.
std::optional<std::int64_t> ParseDateTime(std::string_view text) {
    if (text.size() != 19 || text[4] != ':' || text[7] != ':' || text[10] != ' ' ||
        text[13] != ':' || text[16] != ':')
        return std::nullopt;
    int year, month, day, hour, minute, second;
    if (!Digits(text, 0, 4, year) || !Digits(text, 5, 2, month) || !Digits(text, 8, 2, day) ||
        !Digits(text, 11, 2, hour) || !Digits(text, 14, 2, minute) || !Digits(text, 17, 2, second))
        return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year(year),
                                           std::chrono::month(static_cast<unsigned>(month)),
                                           std::chrono::day(static_cast<unsigned>(day))};
    if (year < 1970 || year > 2100 || !date.ok() || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    const std::int64_t days = std::chrono::sys_days(date).time_since_epoch().count();
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

// "+HH:MM" or "-HH:MM" as seconds east of UTC.
std::optional<std::int64_t> ParseOffset(std::string_view text) {
    if (text.size() != 6 || (text[0] != '+' && text[0] != '-') || text[3] != ':')
        return std::nullopt;
    int hours, minutes;
    if (!Digits(text, 1, 2, hours) || !Digits(text, 4, 2, minutes) || hours > 14 || minutes > 59)
        return std::nullopt;
    const std::int64_t seconds = hours * 3600 + minutes * 60;
    return text[0] == '-' ? -seconds : seconds;
}

void TakeDate(PhotoFacts& facts, const std::optional<std::string>& date,
              const std::optional<std::string>& offset) {
    if (facts.captured || !date)
        return;
    const auto wall = ParseDateTime(*date);
    if (!wall)
        return;
    facts.captured = *date;
    facts.capturedUnix = *wall;
    if (offset) {
        if (const auto east = ParseOffset(*offset))
            facts.capturedUnix = *wall - *east;
    }
}

std::string RawKind(const Tiff& tiff, const Ifd& ifd0, const std::string& make) {
    if (tiff.magic() == Magic::Orf)
        return "orf";
    if (tiff.magic() == Magic::Rw2)
        return "rw2";
    const auto bytes = tiff.bytes();
    if (bytes.size() >= 11 && bytes[8] == 'C' && bytes[9] == 'R' && bytes[10] == 2)
        return "cr2";
    // Before the make: a DNG converted from a Nikon still says NIKON.
    const auto dng = tiff.Find(ifd0, kDngVersion);
    if (dng && dng->type == kTypeByte && dng->count == 4)
        return "dng";
    const std::string_view camera(make);
    if (camera.starts_with("NIKON"))
        return "nef";
    if (camera.starts_with("SONY"))
        return "arw";
    if (camera.starts_with("PENTAX"))
        return "pef";
    return {};
}

std::optional<PhotoFacts> Read(std::span<const std::uint8_t> bytes, bool wantKind) {
    const auto tiff = Tiff::Open(bytes);
    if (!tiff)
        return std::nullopt;
    Visited visited;
    if (!visited.Take(tiff->first()))
        return std::nullopt;
    const auto ifd0 = tiff->ReadIfd(tiff->first());
    if (!ifd0)
        return std::nullopt;

    PhotoFacts facts;
    facts.make = CleanText(tiff->Text(*ifd0, kMake));
    facts.model = CleanText(tiff->Text(*ifd0, kModel));

    // The Exif IFD hangs off IFD0; should IFD0 lack the pointer, a later IFD of the chain
    // may carry it.
    auto exifAt = tiff->Offset(*ifd0, kExifIfd);
    for (auto next = tiff->Next(*ifd0); !exifAt && next && visited.Take(*next);) {
        const auto ifd = tiff->ReadIfd(*next);
        if (!ifd)
            break;
        exifAt = tiff->Offset(*ifd, kExifIfd);
        next = tiff->Next(*ifd);
    }
    if (exifAt && visited.Take(*exifAt)) {
        if (const auto exif = tiff->ReadIfd(*exifAt)) {
            TakeDate(facts, tiff->Text(*exif, kDateTimeOriginal),
                     tiff->Text(*exif, kOffsetTimeOriginal));
            if (!facts.captured) {
                TakeDate(facts, tiff->Text(*ifd0, kDateTime), tiff->Text(*exif, kOffsetTime));
            }
        }
    }
    TakeDate(facts, tiff->Text(*ifd0, kDateTime), std::nullopt);

    if (wantKind)
        facts.rawKind = RawKind(*tiff, *ifd0, facts.make);
    return facts;
}

bool SafeInName(char c) {
    if (!Printable(c))
        return false;
    return std::string_view("/\\:*?\"<>|").find(c) == std::string_view::npos;
}

std::string FirstWord(const std::string& text) {
    return text.substr(0, text.find(' '));
}

// Whether `model` starts with `word` as a whole word, whatever the case.
bool StartsWithWord(const std::string& model, const std::string& word) {
    if (word.empty() || model.size() < word.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        const auto a = static_cast<unsigned char>(model[i]);
        const auto b = static_cast<unsigned char>(word[i]);
        if (std::tolower(a) != std::tolower(b))
            return false;
    }
    return model.size() == word.size() ||
           !std::isalnum(static_cast<unsigned char>(model[word.size()]));
}

}  // namespace

std::optional<PhotoFacts> ReadTiffExif(std::span<const std::uint8_t> bytes) {
    return Read(bytes, true);
}

std::optional<PhotoFacts> ReadJpegExif(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        return std::nullopt;
    std::size_t at = 2;
    while (at + 1 < bytes.size()) {
        if (bytes[at] != 0xFF)
            return std::nullopt;  // lost: no marker where one must be
        const std::uint8_t marker = bytes[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)
            return std::nullopt;  // image data: no more metadata
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        if (at + 4 > bytes.size())
            return std::nullopt;
        const std::size_t length = (std::size_t{bytes[at + 2]} << 8) | bytes[at + 3];
        if (length < 2)
            return std::nullopt;
        const std::size_t payload = at + 4;
        // A segment cut short by the capture is read as far as it goes.
        const std::size_t end = std::min(bytes.size(), at + 2 + length);
        static constexpr std::array<std::uint8_t, 5> kExif = {'E', 'x', 'i', 'f', 0};
        if (marker == 0xE1 && end >= payload + 6 &&
            std::equal(kExif.begin(), kExif.end(), bytes.begin() + payload)) {
            if (auto facts = Read(bytes.subspan(payload + 6, end - payload - 6), false))
                return facts;
        }
        at += 2 + length;
    }
    return std::nullopt;
}

std::string PhotoName(const PhotoFacts& facts) {
    if (!facts.captured || facts.captured->empty())
        return {};
    std::string name = *facts.captured;
    std::replace(name.begin(), name.end(), ':', '-');
    const std::string make = FirstWord(facts.make);
    std::string camera = facts.model;
    if (!make.empty() && !StartsWithWord(camera, make))
        camera = camera.empty() ? make : make + " " + camera;
    if (!camera.empty())
        name += " " + camera;
    for (char& c : name) {
        if (!SafeInName(c))
            c = '_';
    }
    if (name.size() > kMaxName)
        name.resize(kMaxName);
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    return name;
}

}  // namespace duzez::signatures
