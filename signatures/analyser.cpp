#include "signatures/analyser.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>

#include "core/log.h"
#include "core/spin_wait.h"
#include "platform/byte_order.h"
#include "platform/thread_priority.h"
#include "signatures/exif_reader.h"
#include "signatures/probes.h"
#include "signatures/signature_database.h"
#include "signatures/structure_probes.h"

namespace duzez::signatures {
namespace {

namespace Flags = filesystems::ObjectFlags;
constexpr std::uint16_t kRecordFlags = 0x0100;
constexpr std::chrono::microseconds kHandOverSpin{300};

}  // namespace

CAnalyser::CAnalyser(const SignatureDatabase& database, filesystems::AnalysedVolume& volume,
                     FoundItem onFoundItem, bool startThread)
    : database_(database),
      volume_(volume),
      onFoundItem_(std::move(onFoundItem)),
      matcher_(database),
      buffers_{std::vector<std::uint8_t>(kBufferBytes), std::vector<std::uint8_t>(kBufferBytes)} {
    if (startThread)
        worker_ = std::thread([this] { Run(); });
}

CAnalyser::~CAnalyser() {
    stop_ = true;
    {
        std::lock_guard lock(mutex_);
        work_ = true;
    }
    changed_.notify_all();
    // The buffers are freed only after the worker has let go of them: the scan tests the
    // stop flag at every sector, so this wait is short.
    if (worker_.joinable())
        worker_.join();
}

void CAnalyser::Run() {
    platform::LowerCurrentThreadPriority();
    while (true) {
        // Reading a block from a fast drive takes little longer than scanning one, so the
        // next one is usually near.
        core::SpinUntil([this] { return work_.load() || stop_.load(); }, kHandOverSpin);
        {
            std::unique_lock lock(mutex_);
            // The stop flag is looked at too: a destructor that came during the last
            // block set the work flag the end of that block just cleared.
            changed_.wait(lock, [this] { return work_.load() || stop_.load(); });
            if (stop_)
                return;
        }
        ScanBlockGuarded();
        {
            std::lock_guard lock(mutex_);
            work_ = false;
            done_ = true;
        }
        changed_.notify_all();
    }
}

void CAnalyser::ScanBlockGuarded() {
    // An exception must not end the process from this thread, nor leave the reader
    // waiting: the block counts as scanned without hits, and the next one comes.
    try {
        ScanChunk();
    } catch (const std::bad_alloc&) {
        LogBlockFailure(nullptr);
    } catch (const std::exception& e) {
        LogBlockFailure(e.what());
    } catch (...) {
        LogBlockFailure("unknown exception");
    }
}

void CAnalyser::LogBlockFailure(const char* what) noexcept {
    try {
        if (what == nullptr)
            volume_.Log().LogError("CAnalyser.ParseBlock: Can't allocate memory");
        else
            volume_.Log().LogError("CAnalyser.ParseBlock except: %s", what);
    } catch (...) {
        // No memory even for the log line: the block is failed all the same.
    }
}

void CAnalyser::StartChunk(std::uint64_t firstSector, std::uint64_t sectors) {
    {
        std::lock_guard lock(mutex_);
        firstSector_ = firstSector;
        chunkSectors_ = std::min<std::uint64_t>(sectors, kBufferBytes / kSectorBytes);
        scanned_ = buffers_[fill_];
        fill_ ^= 1;
        done_ = false;
        work_ = true;
    }
    changed_.notify_all();
}

bool CAnalyser::WaitChunkDone(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return done_; });
}

namespace {

constexpr std::uint64_t kExifBytes = 64 * 1024;  // where cameras put their EXIF block
constexpr std::uint64_t kUnixToFileTime = 11644473600ull;

}  // namespace

void CAnalyser::DescribePhoto(filesystems::FoundObject& item, std::span<const std::uint8_t> chunk,
                              const SectorReader& read) const {
    const std::int32_t format = item.SignatureId;
    if (format != FormatIds::Jpeg && !FormatIds::IsTiffPhoto(format))
        return;
    const std::uint64_t wanted = std::min<std::uint64_t>(item.Size, kExifBytes);
    // Most photos' EXIF lies within the chunk just scanned: read only when it does not.
    std::vector<std::uint8_t> readHead;
    std::span<const std::uint8_t> head = chunk.first(std::min<std::uint64_t>(chunk.size(), wanted));
    if (head.size() < wanted) {
        const std::uint64_t length = (wanted + kSectorBytes - 1) / kSectorBytes;
        readHead.resize(length * kSectorBytes);
        const std::uint32_t got = read(readHead, item.Start / kSectorBytes, length);
        readHead.resize(std::min<std::uint64_t>({got, readHead.size(), wanted}));
        head = readHead;
    }
    const auto facts = format == FormatIds::Jpeg ? ReadJpegExif(head) : ReadTiffExif(head);
    if (!facts)
        return;
    const Signature* signature = database_.FindSignatureById(format);
    std::string extension =
        signature != nullptr ? SignatureDatabase::FirstExtension(*signature) : std::string();
    // A TIFF-based RAW is written as what it is (CR2, NEF, ARW, DNG...), not as TIFF.
    if (!facts->rawKind.empty())
        extension = facts->rawKind;
    const std::string name = photosByCapture_.load() ? PhotoName(*facts) : std::string();
    if (!name.empty()) {
        item.SetName(extension.empty() ? name : name + "." + extension);
    } else if (!facts->rawKind.empty() && signature != nullptr) {
        item.SetName(signature->Prefix + "_" + std::to_string(item.Start) + "." + extension);
    }
    // The capture time, not the time of the recovery, is the photo's time.
    if (facts->capturedUnix && *facts->capturedUnix >= 0)
        item.Modified =
            (static_cast<std::uint64_t>(*facts->capturedUnix) + kUnixToFileTime) * 10000000ull;
}

void CAnalyser::NameByBrand(filesystems::FoundObject& item,
                            std::span<const std::uint8_t, kSectorBytes> sector) const {
    const std::int32_t format = item.SignatureId;
    if (!FormatIds::IsIsoMedia(format) || item.Is(Flags::Named) ||
        std::memcmp(sector.data() + 4, "ftyp", 4) != 0)
        return;
    // The major brand says what the file is: a QuickTime movie, a Canon CR3, a HEIC photo.
    static constexpr std::pair<const char*, const char*> kBrands[] = {
        {"qt  ", "mov"},  {"crx ", "cr3"},  {"heic", "heic"}, {"heix", "heic"}, {"heim", "heic"},
        {"heis", "heic"}, {"hevc", "heic"}, {"hevx", "heic"}, {"mif1", "heic"}, {"avif", "avif"},
        {"avis", "avif"}, {"3gp4", "3gp"},  {"3gp5", "3gp"},  {"3gp6", "3gp"},  {"3gp7", "3gp"},
        {"3g2a", "3g2"},  {"M4A ", "m4a"},  {"M4V ", "m4v"},  {"isom", "mp4"},  {"iso2", "mp4"},
        {"mp41", "mp4"},  {"mp42", "mp4"},  {"avc1", "mp4"},  {"MSNV", "mp4"},  {"dash", "mp4"},
    };
    const Signature* signature = database_.FindSignatureById(format);
    if (signature == nullptr)
        return;
    for (const auto& [brand, extension] : kBrands) {
        if (std::memcmp(sector.data() + 8, brand, 4) == 0) {
            item.SetName(signature->Prefix + "_" + std::to_string(item.Start) + "." + extension);
            return;
        }
    }
}

void CAnalyser::ScanChunk() {
    const auto patterns = database_.PatternsReadLock();
    std::vector<const Signature*> matches;
    const SectorReader read = [this](std::span<std::uint8_t> buffer, std::uint64_t sector,
                                     std::uint64_t count) {
        return volume_.ReadVolumeSectors(buffer, sector, count);
    };
    constexpr std::uint64_t kPrefetchAhead = 16;
    for (std::uint64_t i = 0; i < chunkSectors_; ++i) {
        if (!Running())
            return;
        if (i + kPrefetchAhead < chunkSectors_)
            matcher_.Prefetch(scanned_.data() + (i + kPrefetchAhead) * kSectorBytes);
        const std::span<const std::uint8_t, kSectorBytes> sector(scanned_.data() + i * kSectorBytes,
                                                                 kSectorBytes);
        matcher_.Match(sector, matches);
        for (const Signature* signature : matches) {
            if (!Running())
                return;
            filesystems::FoundObject item;
            item.Start = (firstSector_ + i) * kSectorBytes;
            item.SignatureId = static_cast<std::int16_t>(signature->FormatId);
            item.Size = filesystems::kUnknownSize;
            item.Flags = Flags::ExtentToNext | Flags::Deleted;
            ProbeItem(item, sector, read);
            // Where the file's own structure tells its end, the size is known and is not
            // an estimate to be settled at recovery.
            if (const auto end =
                    FindStructuralEnd(item.SignatureId, item.Start, volume_.VolumeSize(), read)) {
                item.Size = *end;
                item.Flags &= static_cast<std::uint16_t>(~Flags::ExtentToNext);
                DescribePhoto(
                    item, scanned_.first(chunkSectors_ * kSectorBytes).subspan(i * kSectorBytes),
                    read);
            } else if (item.SignatureId == FormatIds::SizeAtByte2 && item.Size >= 54 &&
                       item.Size <= volume_.VolumeSize() - item.Start) {
                item.Flags &= static_cast<std::uint16_t>(~Flags::ExtentToNext);  // BMP's own size
            }
            NameByBrand(item, sector);
            if (item.SignatureId == FormatIds::NtfsFileRecord) {
                if (std::memcmp(sector.data(), "FILE", 4) != 0)
                    continue;
                const std::uint16_t state = *platform::ReadLe<std::uint16_t>(sector, 22);
                item.Id = ~0ull;
                item.Flags = kRecordFlags;
                if ((state & 1) == 0)
                    item.Flags |= Flags::Deleted;
                if ((state & 2) != 0)
                    item.Flags |= Flags::Folder;
            } else if (item.SignatureId == FormatIds::FatDirectory ||
                       item.SignatureId == FormatIds::ExFatDirectory) {
                item.Id = ~0ull;
                item.Flags = kRecordFlags;
            }
            onFoundItem_(std::move(item));
        }
    }
}

}  // namespace duzez::signatures
