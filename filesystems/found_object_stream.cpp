#include "filesystems/found_object_stream.h"

#include <algorithm>
#include <cstring>

#include "filesystems/file_system.h"
#include "filesystems/salvaging_read.h"

namespace duzez::filesystems {
namespace {

constexpr std::uint64_t kSector = 512;

}  // namespace

FoundObjectStream::FoundObjectStream(TreeVolume& volume, const FoundObject* record)
    : volume_(volume) {
    if (record != nullptr)
        Object = *record;
}

std::uint32_t FoundObjectStream::Read(std::span<std::uint8_t> buffer) {
    const std::uint64_t count = buffer.size();
    if (count == 0 || count > 0xFFFFFFFFu)
        return 0;
    const std::uint64_t first = Object.Start + Position;
    if (first < Object.Start || first + count < first)
        return 0;  // offsets overflow
    // A file the file system can follow through its own map (clusters, runs) is read
    // that way; everything else from its extent, or its two pieces.
    if (CFileSystem* analyser = volume_.FileSystemAnalyser()) {
        const std::uint32_t got = analyser->FileRead(Object, buffer, Position, Damage);
        if (got != CFileSystem::kNotSupported) {
            if (got != count)
                return 0;
            Position += count;
            return got;
        }
    }
    if (Object.InTwoPieces()) {
        // The bytes before the joint from the first piece, the rest from the second.
        const std::uint64_t inFirst = Position < Object.FirstPieceSize
                                          ? std::min(count, Object.FirstPieceSize - Position)
                                          : 0;
        if (inFirst != 0)
            ReadExtent(first, buffer.first(static_cast<std::size_t>(inFirst)));
        if (inFirst != count) {
            const std::uint64_t from =
                Object.SecondPieceStart + (Position + inFirst) - Object.FirstPieceSize;
            if (from < Object.SecondPieceStart || from + (count - inFirst) < from)
                return 0;
            ReadExtent(from, buffer.subspan(static_cast<std::size_t>(inFirst)));
        }
    } else {
        ReadExtent(first, buffer);
    }
    Position += count;
    return static_cast<std::uint32_t>(count);
}

void FoundObjectStream::ReadExtent(std::uint64_t first, std::span<std::uint8_t> buffer) {
    const std::uint64_t count = buffer.size();
    const std::uint64_t firstSector = first / kSector;
    const std::uint64_t lastSector = (first + count - 1) / kSector;
    const std::uint64_t sectors = lastSector - firstSector + 1;
    const std::uint64_t skip = first - firstSector * kSector;
    if (skip == 0 && count % kSector == 0) {
        // Whole sectors: straight into the caller's buffer.
        ReadSectorsSalvaging(volume_, buffer, firstSector, sectors, Damage);
    } else {
        sectors_.resize(static_cast<std::size_t>(sectors * kSector));
        ReadSectorsSalvaging(volume_, sectors_, firstSector, sectors, Damage);
        std::memcpy(buffer.data(), sectors_.data() + skip, static_cast<std::size_t>(count));
    }
}

std::uint64_t FoundObjectStream::Seek(std::uint64_t offset, int origin) {
    if (origin == 0) {
        Position = offset;
    } else if (origin == 1) {
        Position += offset;
    } else if (origin == 2) {
        Position = Object.Size;
    }
    return Position;
}

std::uint64_t FoundObjectStream::SeekTo(std::uint64_t offset) {
    return offset == ~std::uint64_t{0} ? Position : Seek(offset, 0);
}

std::uint32_t FoundObjectStream::CheckBounds() const {
    const std::uint64_t total = volume_.VolumeSize();
    if (Object.Size > total || Object.Start > total)
        return kOutOfBounds;
    if (Object.InTwoPieces()) {
        const std::uint64_t second = Object.Size - Object.FirstPieceSize;
        if (Object.FirstPieceSize > total - Object.Start || Object.SecondPieceStart > total ||
            second > total - Object.SecondPieceStart)
            return kOutOfBounds;
    }
    return 0;
}

}  // namespace duzez::filesystems
