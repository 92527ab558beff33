#include "ui/viewer/byte_source.h"

#include <algorithm>
#include <cstring>

#include "devices/volume.h"
#include "filesystems/found_object_stream.h"

namespace duzez::ui {

std::size_t ByteSource::Read(std::uint64_t offset, std::span<std::uint8_t> out) {
    return Read(offset, out, {});
}

std::size_t ByteSource::Read(std::uint64_t offset, std::span<std::uint8_t> out,
                             std::span<std::uint8_t> unreadable) {
    const std::uint64_t size = Size();
    if (!unreadable.empty()) {
        unreadable = unreadable.first(std::min(unreadable.size(), out.size()));
        std::fill(unreadable.begin(), unreadable.end(), std::uint8_t{0});
    }
    if (offset >= size || out.empty())
        return 0;
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), size - offset));
    if (unreadable.size() < count)
        unreadable = {};
    ReadWithin(offset, out.first(count), unreadable.empty() ? unreadable : unreadable.first(count));
    return count;
}

bool ByteSource::Write(std::uint64_t, std::uint8_t) {
    return false;
}

MemoryByteSource::MemoryByteSource(std::vector<std::uint8_t> bytes, bool readOnly)
    : bytes_(std::move(bytes)), readOnly_(readOnly) {}

bool MemoryByteSource::Write(std::uint64_t offset, std::uint8_t value) {
    if (readOnly_ || offset >= bytes_.size())
        return false;
    bytes_[static_cast<std::size_t>(offset)] = value;
    return true;
}

void MemoryByteSource::ReadWithin(std::uint64_t offset, std::span<std::uint8_t> out,
                                  std::span<std::uint8_t>) {
    std::memcpy(out.data(), bytes_.data() + offset, out.size());
}

SectorByteSource::SectorByteSource(std::string name, std::uint64_t totalSectors,
                                   SectorReader reader)
    : name_(std::move(name)), totalSectors_(totalSectors), reader_(std::move(reader)) {}

std::uint32_t SectorByteSource::CallReader(std::span<std::uint8_t> buffer, std::uint64_t sector,
                                           std::uint64_t count) {
    ++readerCalls_;
    return reader_ ? reader_(buffer, sector, count) : 0;
}

const SectorByteSource::Page& SectorByteSource::PageAt(std::uint64_t index) {
    const auto hit =
        std::find_if(pages_.begin(), pages_.end(), [&](const Page& p) { return p.index == index; });
    if (hit != pages_.end()) {
        pages_.splice(pages_.begin(), pages_, hit);
        return pages_.front();
    }
    if (pages_.size() >= kCachedPages)
        pages_.pop_back();
    Page page;
    page.index = index;
    const std::uint64_t first = index * kPageSectors;
    const std::uint64_t sectors = std::min(kPageSectors, totalSectors_ - first);
    page.bytes.assign(static_cast<std::size_t>(sectors * kSectorBytes), 0);
    page.badSectors.assign(static_cast<std::size_t>(sectors), 0);
    const std::uint32_t got = CallReader(page.bytes, first, sectors);
    if (got < page.bytes.size()) {
        // Whole sectors that came are good; the rest are asked for one by one, so a single
        // bad sector does not hide its neighbours.
        for (std::uint64_t s = got / kSectorBytes; s < sectors; ++s) {
            const auto one = std::span(page.bytes)
                                 .subspan(static_cast<std::size_t>(s * kSectorBytes), kSectorBytes);
            if (CallReader(one, first + s, 1) < kSectorBytes) {
                std::fill(one.begin(), one.end(), std::uint8_t{0});
                page.badSectors[static_cast<std::size_t>(s)] = 1;
            }
        }
    }
    pages_.push_front(std::move(page));
    return pages_.front();
}

void SectorByteSource::ReadWithin(std::uint64_t offset, std::span<std::uint8_t> out,
                                  std::span<std::uint8_t> unreadable) {
    std::size_t done = 0;
    while (done < out.size()) {
        const std::uint64_t at = offset + done;
        const Page& page = PageAt(at / kPageBytes);
        const auto within = static_cast<std::size_t>(at % kPageBytes);
        const std::size_t take = std::min(out.size() - done, page.bytes.size() - within);
        std::memcpy(out.data() + done, page.bytes.data() + within, take);
        if (!unreadable.empty()) {
            for (std::size_t i = 0; i < take; ++i)
                unreadable[done + i] = page.badSectors[(within + i) / kSectorBytes];
        }
        done += take;
    }
}

std::shared_ptr<SectorByteSource> MakeVolumeByteSource(devices::CVolume& volume) {
    std::uint64_t sectors = volume.TotalSectors;
    if (sectors == 0)
        sectors = volume.TotalSize / SectorByteSource::kSectorBytes;
    SectorByteSource::SectorReader reader;
    if (std::shared_ptr<devices::CVolume> owned = volume.weak_from_this().lock()) {
        reader = [owned](std::span<std::uint8_t> buffer, std::uint64_t sector,
                         std::uint64_t count) { return owned->ReadSectors(buffer, sector, count); };
    } else {
        devices::CVolume* raw = &volume;
        reader = [raw](std::span<std::uint8_t> buffer, std::uint64_t sector, std::uint64_t count) {
            return raw->ReadSectors(buffer, sector, count);
        };
    }
    return std::make_shared<SectorByteSource>(volume.GetDisplayName(), sectors, std::move(reader));
}

namespace {

std::uint64_t ShownSize(filesystems::TreeVolume& volume, const filesystems::FoundObject& object) {
    std::uint64_t size = FoundObjectByteSource::kShownBytes;
    // A folder's recorded size is often 0: it shows its directory data up to the limit.
    if (!object.Is(filesystems::ObjectFlags::Folder) && object.Size != filesystems::kUnknownSize)
        size = std::min(size, object.Size);
    const std::uint64_t end = volume.VolumeSize();
    if (object.Start >= end)
        return 0;
    return std::min(size, end - object.Start);
}

}  // namespace

FoundObjectByteSource::FoundObjectByteSource(filesystems::TreeVolume& volume,
                                             const filesystems::FoundObject& object)
    : volume_(volume), object_(object), name_(object.GetName()), size_(ShownSize(volume, object)) {}

void FoundObjectByteSource::Load() {
    loaded_ = true;
    const auto size = static_cast<std::size_t>(size_);
    bytes_.assign(size, 0);
    unreadable_.assign(size, 0);
    if (size == 0)
        return;
    filesystems::FoundObjectStream stream(volume_, &object_);
    if (stream.Read(bytes_) != size) {
        std::fill(unreadable_.begin(), unreadable_.end(), std::uint8_t{1});
        return;
    }
    if (stream.Damage.unreadableSectors == 0)
        return;
    // Some sectors were lost: read again a sector's worth at a time to tell which.
    for (std::size_t at = 0; at < size; at += SectorByteSource::kSectorBytes) {
        const std::size_t take = std::min<std::size_t>(SectorByteSource::kSectorBytes, size - at);
        const std::uint64_t before = stream.Damage.unreadableSectors;
        stream.SeekTo(at);
        const auto piece = std::span(bytes_).subspan(at, take);
        if (stream.Read(piece) != take || stream.Damage.unreadableSectors != before) {
            std::fill(piece.begin(), piece.end(), std::uint8_t{0});
            std::fill_n(unreadable_.begin() + static_cast<std::ptrdiff_t>(at), take,
                        std::uint8_t{1});
        }
    }
}

void FoundObjectByteSource::ReadWithin(std::uint64_t offset, std::span<std::uint8_t> out,
                                       std::span<std::uint8_t> unreadable) {
    if (!loaded_)
        Load();
    const auto at = static_cast<std::size_t>(offset);
    std::memcpy(out.data(), bytes_.data() + at, out.size());
    if (!unreadable.empty())
        std::memcpy(unreadable.data(), unreadable_.data() + at, unreadable.size());
}

}  // namespace duzez::ui
