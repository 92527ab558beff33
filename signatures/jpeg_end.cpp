#include "signatures/jpeg_end.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace duzez::signatures {
namespace {

constexpr std::size_t kMaxImages = 32;
constexpr std::size_t kMaxItems = 16;
constexpr int kMaxBoxes = 100000;
constexpr std::string_view kMpf("MPF\0", 4);
constexpr std::string_view kXmp("http://ns.adobe.com/xap/1.0/\0", 29);

// Bytes [begin, end) from the file's start.
struct Range {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
};

// What the first image's segments declare about what follows it.
struct Declared {
    std::optional<Range> mpf;  // from the MP header's byte-order mark
    std::optional<Range> xmp;  // the XMP packet's text
};

bool Matches(FileBytes& bytes, std::uint64_t at, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = bytes.At(at + i);
        if (!b || *b != static_cast<std::uint8_t>(text[i]))
            return false;
    }
    return true;
}

void Gather(FileBytes& bytes, std::uint8_t marker, Range payload, Declared& declared) {
    if (marker == 0xE2 && !declared.mpf && payload.end - payload.begin > kMpf.size() &&
        Matches(bytes, payload.begin, kMpf)) {
        declared.mpf = Range{payload.begin + kMpf.size(), payload.end};
    } else if (marker == 0xE1 && !declared.xmp && payload.end - payload.begin > kXmp.size() &&
               Matches(bytes, payload.begin, kXmp)) {
        declared.xmp = Range{payload.begin + kXmp.size(), payload.end};
    }
}

// The markers of the image whose SOI is at `start`, to its first EOI: the offset just past
// it. Reads nothing at or past `stop`, so that an image declared to lie within a range is
// checked within it.
std::optional<std::uint64_t> MarkerWalk(FileBytes& bytes, std::uint64_t start, std::uint64_t stop,
                                        Declared* declared) {
    const auto at = [&bytes, stop](std::uint64_t offset) -> std::optional<std::uint8_t> {
        if (offset >= stop)
            return std::nullopt;
        return bytes.At(offset);
    };
    if (at(start) != 0xFF || at(start + 1) != 0xD8)
        return std::nullopt;
    std::uint64_t pos = start + 2;
    while (true) {
        const auto ff = at(pos);
        if (!ff || *ff != 0xFF)
            return std::nullopt;
        auto marker = at(pos + 1);
        while (marker && *marker == 0xFF) {  // fill bytes
            ++pos;
            marker = at(pos + 1);
        }
        if (!marker)
            return std::nullopt;
        if (*marker == 0xD9)
            return pos + 2;
        if ((*marker >= 0xD0 && *marker <= 0xD7) || *marker == 0x01) {
            pos += 2;
            continue;
        }
        const auto hi = at(pos + 2);
        const auto lo = at(pos + 3);
        if (!hi || !lo)
            return std::nullopt;
        const std::uint64_t length = (std::uint64_t{*hi} << 8) | *lo;
        if (length < 2)
            return std::nullopt;
        if (declared != nullptr)
            Gather(bytes, *marker, Range{pos + 4, pos + 2 + length}, *declared);
        pos += 2 + length;
        if (*marker != 0xDA)
            continue;
        // Entropy-coded data: runs to the next marker that is not a stuffed zero or a
        // restart.
        while (true) {
            const auto b = at(pos);
            if (!b)
                return std::nullopt;
            if (*b == 0xFF) {
                const auto next = at(pos + 1);
                if (!next)
                    return std::nullopt;
                if (*next != 0x00 && !(*next >= 0xD0 && *next <= 0xD7) && *next != 0xFF)
                    break;
                pos += *next == 0xFF ? 1 : 2;
                continue;
            }
            ++pos;
        }
    }
}

// The MP Index IFD of the first image: the furthest end of the further images it lists,
// each a JPEG of its own exactly where and within the size listed. Nullopt when there is
// none, or when any listed image is not there: then nothing beyond the first is taken,
// since a wrong index says nothing trustworthy about the bytes after it.
std::optional<std::uint64_t> MpfEnd(FileBytes& bytes, Range mp, std::uint64_t firstEnd) {
    const auto little = Matches(bytes, mp.begin, std::string_view("II*\0", 4));
    if (!little && !Matches(bytes, mp.begin, std::string_view("MM\0*", 4)))
        return std::nullopt;
    // Values of the index lie within the segment.
    const auto read = [&](std::uint64_t offset, int width) -> std::optional<std::uint32_t> {
        if (offset > mp.end - mp.begin || mp.end - mp.begin - offset < std::uint64_t(width))
            return std::nullopt;
        std::uint32_t value = 0;
        for (int i = 0; i < width; ++i) {
            const auto b = bytes.At(mp.begin + offset + (little ? width - 1 - i : i));
            if (!b)
                return std::nullopt;
            value = (value << 8) | *b;
        }
        return value;
    };
    const auto ifd = read(4, 4);
    const auto count = ifd ? read(*ifd, 2) : std::nullopt;
    if (!count)
        return std::nullopt;
    std::optional<std::uint32_t> images, entriesAt, entriesBytes;
    for (std::uint32_t e = 0; e < *count; ++e) {
        const std::uint64_t entry = std::uint64_t{*ifd} + 2 + 12ull * e;
        const auto tag = read(entry, 2);
        const auto n = read(entry + 4, 4);
        const auto value = read(entry + 8, 4);
        if (!tag || !n || !value)
            return std::nullopt;
        if (*tag == 0xB001)  // NumberOfImages
            images = *value;
        if (*tag == 0xB002) {  // MPEntry
            entriesAt = *value;
            entriesBytes = *n;
        }
    }
    if (!entriesAt || *entriesBytes % 16 != 0)
        return std::nullopt;
    const std::uint32_t entries = *entriesBytes / 16;
    if (entries < 2 || entries > kMaxImages || (images && *images != entries))
        return std::nullopt;
    std::uint64_t end = firstEnd;
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::uint64_t entry = std::uint64_t{*entriesAt} + 16ull * i;
        const auto size = read(entry + 4, 4);
        const auto offset = read(entry + 8, 4);
        if (!size || !offset)
            return std::nullopt;
        if (i == 0) {
            if (*offset != 0)  // the first image is the one holding the index
                return std::nullopt;
            continue;
        }
        const std::uint64_t start = mp.begin + *offset;
        const std::uint64_t stop = start + *size;
        // In order, each after the one before, all within the bound.
        if (*offset == 0 || *size == 0 || start < end || stop > bytes.Limit())
            return std::nullopt;
        if (!MarkerWalk(bytes, start, stop, nullptr))
            return std::nullopt;
        end = stop;
    }
    return end;
}

std::string ReadText(FileBytes& bytes, Range range) {
    std::string text;
    // A segment's length field caps this at 64 KiB.
    for (std::uint64_t at = range.begin; at < range.end && text.size() < 65536; ++at) {
        const auto b = bytes.At(at);
        if (!b)
            break;
        text.push_back(static_cast<char>(*b));
    }
    return text;
}

bool IsNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.' || c == ':';
}

// The value of property `name` in any namespace prefix, written as an attribute
// (prefix:name="value") or as an element (<prefix:name>value<).
std::optional<std::string_view> Property(std::string_view text, std::string_view name) {
    const std::string key = ":" + std::string(name);
    for (std::size_t from = 0; (from = text.find(key, from)) != std::string_view::npos;) {
        std::size_t at = from + key.size();
        from = at;
        while (at < text.size() &&
               (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r'))
            ++at;
        if (at >= text.size())
            return std::nullopt;
        char close = 0;
        if (text[at] == '>') {
            close = '<';
            ++at;
        } else if (text[at] == '=') {
            ++at;
            while (at < text.size() && text[at] == ' ')
                ++at;
            if (at >= text.size() || (text[at] != '"' && text[at] != '\''))
                continue;
            close = text[at++];
        } else {
            continue;  // a longer name that starts the same
        }
        const std::size_t stop = text.find(close, at);
        if (stop == std::string_view::npos)
            return std::nullopt;
        return text.substr(at, stop - at);
    }
    return std::nullopt;
}

std::optional<std::uint64_t> Number(std::optional<std::string_view> text) {
    if (!text || text->empty() || text->size() > 18)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : *text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

// Top-level ISO media boxes filling [start, stop) exactly, the first of them `ftyp`: the
// video a motion photo declares.
bool IsoMediaWithin(FileBytes& bytes, std::uint64_t start, std::uint64_t stop) {
    if (stop > bytes.Limit() || stop <= start)
        return false;
    std::uint64_t at = start;
    for (int boxes = 0; at < stop; ++boxes) {
        if (boxes == kMaxBoxes || stop - at < 8)
            return false;
        const auto size32 = bytes.Big32(at);
        const auto type = bytes.Big32(at + 4);
        if (!size32 || !type || (boxes == 0 && *type != 0x66747970))  // ftyp
            return false;
        for (int i = 0; i < 4; ++i) {
            const auto c = (*type >> (24 - 8 * i)) & 0xFF;
            if (c < 0x20 || c >= 0x7F)
                return false;
        }
        std::uint64_t size = *size32;
        if (size == 0)  // runs to the end
            size = stop - at;
        if (size == 1) {
            const auto high = bytes.Big32(at + 8);
            const auto low = bytes.Big32(at + 12);
            if (!high || !low)
                return false;
            size = (std::uint64_t{*high} << 32) | *low;
        }
        if (size < 8 || size > stop - at)
            return false;
        at += size;
    }
    return true;
}

struct Item {
    std::string_view mime;
    std::optional<std::uint64_t> length;
    std::uint64_t padding = 0;
};

// The items of the XMP container directory, in file order: the primary image first.
std::vector<Item> ContainerItems(std::string_view xmp) {
    std::vector<Item> items;
    const std::size_t directory = xmp.find(":Directory");
    if (directory == std::string_view::npos)
        return items;
    std::vector<std::size_t> starts;
    for (std::size_t from = directory; starts.size() <= kMaxItems;) {
        from = xmp.find(":Item", from);
        if (from == std::string_view::npos)
            break;
        const std::size_t after = from + 5;
        from = after;
        if (after >= xmp.size() ||
            !(xmp[after] == ' ' || xmp[after] == '\n' || xmp[after] == '\r' || xmp[after] == '\t' ||
              xmp[after] == '>' || xmp[after] == '/'))
            continue;
        std::size_t name = after - 5;
        while (name > 0 && IsNameChar(xmp[name - 1]))
            --name;
        if (name > 0 && xmp[name - 1] == '<')  // an opening tag, not a closing one
            starts.push_back(name);
    }
    if (starts.size() > kMaxItems)
        return items;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const std::size_t stop = i + 1 < starts.size() ? starts[i + 1] : xmp.size();
        const std::string_view text = xmp.substr(starts[i], stop - starts[i]);
        Item item;
        item.mime = Property(text, "Mime").value_or(std::string_view());
        item.length = Number(Property(text, "Length"));
        item.padding = Number(Property(text, "Padding")).value_or(0);
        items.push_back(item);
    }
    return items;
}

// Where the media the container directory lists after the primary image end, each checked
// to be what its type says; nullopt unless all are.
std::optional<std::uint64_t> ContainerEnd(FileBytes& bytes, std::string_view xmp,
                                          std::uint64_t firstEnd) {
    const std::vector<Item> items = ContainerItems(xmp);
    if (items.size() < 2)
        return std::nullopt;
    std::uint64_t at = firstEnd;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Item& item = items[i];
        if (i > 0) {
            if (!item.length || *item.length == 0 || *item.length > bytes.Limit() - at)
                return std::nullopt;
            const std::uint64_t stop = at + *item.length;
            if (item.mime == "image/jpeg") {
                if (!MarkerWalk(bytes, at, stop, nullptr))
                    return std::nullopt;
            } else if (item.mime.substr(0, 6) == "video/") {
                if (!IsoMediaWithin(bytes, at, stop))
                    return std::nullopt;
            } else {
                return std::nullopt;  // nothing to check it against
            }
            at = stop;
        }
        // Padding between this item and the next; none after the last.
        if (i + 1 < items.size()) {
            if (item.padding > bytes.Limit() - at)
                return std::nullopt;
            at += item.padding;
        }
    }
    return at;
}

// The older motion photo: the video fills the last MicroVideoOffset bytes of the file, so it
// starts right where the images end.
std::optional<std::uint64_t> MicroVideoEnd(FileBytes& bytes, std::string_view xmp,
                                           std::uint64_t imagesEnd) {
    const auto offset = Number(Property(xmp, "MicroVideoOffset"));
    if (!offset || *offset == 0 || *offset > bytes.Limit() - imagesEnd)
        return std::nullopt;
    if (!IsoMediaWithin(bytes, imagesEnd, imagesEnd + *offset))
        return std::nullopt;
    return imagesEnd + *offset;
}

}  // namespace

std::optional<std::uint64_t> JpegEnd(FileBytes& bytes) {
    Declared declared;
    const auto first = MarkerWalk(bytes, 0, bytes.Limit(), &declared);
    if (!first)
        return std::nullopt;
    std::uint64_t end = *first;
    if (declared.mpf) {
        if (const auto images = MpfEnd(bytes, *declared.mpf, *first))
            end = std::max(end, *images);
    }
    if (declared.xmp) {
        const std::string xmp = ReadText(bytes, *declared.xmp);
        if (const auto items = ContainerEnd(bytes, xmp, *first))
            end = std::max(end, *items);
        else if (const auto video = MicroVideoEnd(bytes, xmp, end))
            end = *video;
    }
    return end;
}

}  // namespace duzez::signatures
