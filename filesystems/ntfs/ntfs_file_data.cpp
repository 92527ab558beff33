// The data of NTFS attributes and files: through the data runs (sparse runs as zeros),
// from the record when resident, and a compression unit at a time when compressed.

#include <algorithm>
#include <cstring>

#include "filesystems/ntfs/file_system_ntfs.h"
#include "filesystems/ntfs/lznt1.h"
#include "filesystems/salvaging_read.h"

namespace duzez::filesystems {
namespace {

constexpr std::uint64_t kSector = 512;
constexpr std::size_t kBounceBytes = 1024 * 1024;

}  // namespace

std::uint64_t CFileSystem_NTFS::ReadAttributeData(const MftRecord& record, std::uint64_t offset,
                                                  std::span<std::uint8_t> buffer,
                                                  ReadDamage* damage) {
    if (!record.nonResident) {
        if (offset > record.dataSize)
            return 0;
        const std::uint64_t take = std::min<std::uint64_t>(buffer.size(), record.dataSize - offset);
        if (record.valueOffset > record.bytes.size() ||
            offset + take > record.bytes.size() - record.valueOffset) {
            return 0;
        }
        std::memcpy(buffer.data(), record.bytes.data() + record.valueOffset + offset,
                    static_cast<std::size_t>(take));
        return take;
    }
    return ReadRuns(record.runs, offset, buffer, damage);
}

std::uint64_t CFileSystem_NTFS::ReadRuns(const std::vector<ntfs::DataRun>& runs,
                                         std::uint64_t offset, std::span<std::uint8_t> buffer,
                                         ReadDamage* damage) {
    // Reads whole sectors; with `damage`, a failure costs only the sectors that fail.
    const auto readSectors = [&](std::span<std::uint8_t> out, std::uint64_t sector,
                                 std::uint64_t count) {
        if (damage == nullptr)
            return volume_.ReadVolumeSectors(out, sector, count) != 0;
        ReadSectorsSalvaging(volume_, out, sector, count, *damage);
        return true;
    };
    std::vector<std::uint8_t> bounce;
    std::size_t done = 0;
    while (done < buffer.size()) {
        const std::uint64_t position = offset + done;
        const std::uint64_t vcn = position / clusterSize_;
        const std::uint64_t within = position % clusterSize_;
        const ntfs::DataRun* run = FindRun(runs, vcn);
        if (run == nullptr)
            break;
        const std::size_t wanted = buffer.size() - done;
        const std::uint64_t clustersLeft = run->LastVcn() - vcn + 1;
        std::size_t take = wanted;
        if (clustersLeft <= wanted / clusterSize_ + 1)
            take = static_cast<std::size_t>(
                std::min<std::uint64_t>(wanted, clustersLeft * clusterSize_ - within));
        const auto out = buffer.subspan(done, take);
        if (run->sparse) {
            std::fill(out.begin(), out.end(), std::uint8_t{0});
            done += take;
            continue;
        }
        const std::uint64_t cluster = run->lcn + (vcn - run->firstVcn);
        if (cluster >= clusterCount_)
            break;
        const std::uint64_t byte = cluster * clusterSize_ + within;
        const std::uint64_t skip = byte % kSector;
        if (skip == 0 && take % kSector == 0) {
            if (!readSectors(out, byte / kSector, take / kSector))
                break;
        } else {
            // Not on sector bounds: through a bounce buffer, a piece at a time.
            take = std::min<std::size_t>(take, kBounceBytes - kSector);
            const std::uint64_t sectors = (skip + take + kSector - 1) / kSector;
            bounce.resize(sectors * kSector);
            if (!readSectors(bounce, byte / kSector, sectors))
                break;
            std::memcpy(out.data(), bounce.data() + skip, take);
        }
        done += take;
    }
    return done;
}

bool CFileSystem_NTFS::ReadCompressed(std::uint64_t offset, std::span<std::uint8_t> buffer,
                                      ReadDamage& damage) {
    const std::uint64_t unitBytes =
        std::uint64_t{open_.record.compressionUnitClusters} * clusterSize_;
    std::size_t done = 0;
    while (done < buffer.size()) {
        const std::uint64_t position = offset + done;
        if (!LoadCompressionUnit(position / unitBytes, damage))
            return false;
        const std::uint64_t within = position % unitBytes;
        const std::size_t take = static_cast<std::size_t>(
            std::min<std::uint64_t>(unitBytes - within, buffer.size() - done));
        std::memcpy(buffer.data() + done, open_.unit.data() + within, take);
        done += take;
    }
    return true;
}

bool CFileSystem_NTFS::LoadCompressionUnit(std::uint64_t unit, ReadDamage& damage) {
    if (open_.unitIndex == unit)
        return true;
    const MftRecord& record = open_.record;
    const std::uint64_t clusters = record.compressionUnitClusters;
    const std::uint64_t unitBytes = clusters * clusterSize_;
    if (unitBytes > 16 * 1024 * 1024)
        return false;
    open_.unit.assign(static_cast<std::size_t>(unitBytes), 0);
    open_.unitIndex = ~0ull;
    // A unit is stored plainly (all its clusters), compressed (its first clusters, the rest
    // sparse) or not at all (all sparse: zeros).
    const std::uint64_t firstVcn = unit * clusters;
    std::uint64_t stored = 0;
    while (stored < clusters) {
        const ntfs::DataRun* run = FindRun(record.runs, firstVcn + stored);
        if (run == nullptr || run->sparse)
            break;
        ++stored;
    }
    if (stored == clusters) {
        if (ReadRuns(record.runs, firstVcn * clusterSize_, open_.unit, &damage) != unitBytes)
            return false;
    } else if (stored != 0) {
        std::vector<std::uint8_t> packed(static_cast<std::size_t>(stored * clusterSize_));
        if (ReadRuns(record.runs, firstVcn * clusterSize_, packed, &damage) != packed.size() ||
            !ntfs::DecompressLznt1(packed, open_.unit)) {
            return false;
        }
    }
    open_.unitIndex = unit;
    return true;
}

const ntfs::DataRun* CFileSystem_NTFS::FindRun(const std::vector<ntfs::DataRun>& runs,
                                               std::uint64_t vcn) {
    auto run =
        std::upper_bound(runs.begin(), runs.end(), vcn,
                         [](std::uint64_t v, const ntfs::DataRun& r) { return v < r.firstVcn; });
    if (run == runs.begin())
        return nullptr;
    --run;
    return vcn <= run->LastVcn() ? &*run : nullptr;
}

std::uint32_t CFileSystem_NTFS::FileRead(const FoundObject& object, std::span<std::uint8_t> buffer,
                                         std::uint64_t offset, ReadDamage& damage) {
    if (clusterSize_ == 0 || object.Is(ObjectFlags::Folder) ||
        object.Is(ObjectFlags::FoundBySignature) || object.Id >= recordCount_) {
        return kNotSupported;
    }
    std::lock_guard lock(fileReadMutex_);
    if (open_.id != object.Id) {
        open_ = {};
        open_.id = object.Id;
        std::vector<std::uint8_t> bytes(recordSize_);
        if (ReadRecord(object.Id, bytes)) {
            open_.record.bytes = std::move(bytes);
            ParseRecord(open_.record);
            MergeExtensionRuns(open_.record, object.Id);
            // Only when the record is still the one the object was listed from.
            FoundObject check;
            open_.usable = FillObject(open_.record, check) &&
                           DataStart(open_.record) == object.Start && check.Size == object.Size;
        }
    }
    if (!open_.usable)
        return kNotSupported;
    const MftRecord& record = open_.record;
    // Encrypted data cannot be read back without the owner's key: a failed read, not
    // ciphertext written out as the file.
    if (record.encrypted)
        return 0;
    // Past the written part, and past the data's end (a larger size in the file name),
    // the file reads as zeros.
    const std::uint64_t written = record.initializedSize;
    const std::uint64_t inData =
        offset >= written ? 0 : std::min<std::uint64_t>(buffer.size(), written - offset);
    if (inData != 0) {
        const auto part = buffer.first(static_cast<std::size_t>(inData));
        const bool read = record.compressionUnitClusters != 0
                              ? ReadCompressed(offset, part, damage)
                              : ReadAttributeData(record, offset, part, &damage) == inData;
        if (!read)
            return 0;
    }
    std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(inData), buffer.end(), std::uint8_t{0});
    return static_cast<std::uint32_t>(buffer.size());
}

}  // namespace duzez::filesystems
