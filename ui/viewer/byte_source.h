#pragma once

// The bytes a hex view shows. Sources are addressed in 64 bits and read a page at a time,
// so a view over a disk of terabytes only ever touches the rows on the screen.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "filesystems/found_object.h"
#include "filesystems/tree_volume.h"

namespace duzez::devices {
class CVolume;
}

namespace duzez::ui {

class ByteSource {
  public:
    virtual ~ByteSource() = default;

    virtual std::uint64_t Size() const = 0;
    virtual bool ReadOnly() const { return true; }
    // "Memory", a volume's name or an object's name.
    virtual std::string Name() const = 0;

    // Copies up to out.size() bytes from `offset`; the count copied (short at the end).
    std::size_t Read(std::uint64_t offset, std::span<std::uint8_t> out);
    // The same, with unreadable[i] set to 1 for each byte the medium would not give (its
    // place in `out` is 0) and to 0 for the rest. `unreadable` is as long as `out`.
    std::size_t Read(std::uint64_t offset, std::span<std::uint8_t> out,
                     std::span<std::uint8_t> unreadable);

    // Overwrites one byte; false for a read-only source or an offset past the end.
    virtual bool Write(std::uint64_t offset, std::uint8_t value);

  protected:
    // `out` lies within the source; `unreadable` is empty or as long as `out` and zeroed.
    virtual void ReadWithin(std::uint64_t offset, std::span<std::uint8_t> out,
                            std::span<std::uint8_t> unreadable) = 0;
};

// A block of memory, editable unless made read-only.
class MemoryByteSource : public ByteSource {
  public:
    explicit MemoryByteSource(std::vector<std::uint8_t> bytes, bool readOnly = false);

    std::uint64_t Size() const override { return bytes_.size(); }
    bool ReadOnly() const override { return readOnly_; }
    std::string Name() const override { return "Memory"; }
    bool Write(std::uint64_t offset, std::uint8_t value) override;

    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

  protected:
    void ReadWithin(std::uint64_t offset, std::span<std::uint8_t> out,
                    std::span<std::uint8_t> unreadable) override;

  private:
    std::vector<std::uint8_t> bytes_;
    bool readOnly_;
};

// 512-byte sectors read through a reader (a volume's), never written. Pages of eight
// sectors are kept in a small least-recently-used cache, failed ones too, so a repaint
// does not ask a failing disk again.
class SectorByteSource : public ByteSource {
  public:
    static constexpr std::uint64_t kSectorBytes = 512;
    static constexpr std::uint64_t kPageSectors = 8;
    static constexpr std::uint64_t kPageBytes = kSectorBytes * kPageSectors;
    static constexpr std::size_t kCachedPages = 64;

    // Reads `count` sectors from `sector` into the span; the bytes delivered, 0 on failure.
    using SectorReader =
        std::function<std::uint32_t(std::span<std::uint8_t>, std::uint64_t, std::uint64_t)>;

    SectorByteSource(std::string name, std::uint64_t totalSectors, SectorReader reader);

    std::uint64_t Size() const override { return totalSectors_ * kSectorBytes; }
    std::string Name() const override { return name_; }

    // Reads that went to the reader, for tests of the cache.
    std::uint64_t ReaderCalls() const { return readerCalls_; }

  protected:
    void ReadWithin(std::uint64_t offset, std::span<std::uint8_t> out,
                    std::span<std::uint8_t> unreadable) override;

  private:
    struct Page {
        std::uint64_t index = 0;
        std::vector<std::uint8_t> bytes;
        std::vector<std::uint8_t> badSectors;  // one flag per sector of the page
    };
    const Page& PageAt(std::uint64_t index);
    std::uint32_t CallReader(std::span<std::uint8_t> buffer, std::uint64_t sector,
                             std::uint64_t count);

    std::string name_;
    std::uint64_t totalSectors_;
    SectorReader reader_;
    std::list<Page> pages_;  // most recently used first
    std::uint64_t readerCalls_ = 0;
};

// A volume's sectors. The source keeps the volume alive when it is shared-owned.
std::shared_ptr<SectorByteSource> MakeVolumeByteSource(devices::CVolume& volume);

// The first 64 KiB of a found object's data (a folder's directory data), read through the
// engine's found-object stream on first use. `volume` must outlive the source.
class FoundObjectByteSource : public ByteSource {
  public:
    static constexpr std::uint64_t kShownBytes = 64 * 1024;

    FoundObjectByteSource(filesystems::TreeVolume& volume, const filesystems::FoundObject& object);

    std::uint64_t Size() const override { return size_; }
    std::string Name() const override { return name_; }

  protected:
    void ReadWithin(std::uint64_t offset, std::span<std::uint8_t> out,
                    std::span<std::uint8_t> unreadable) override;

  private:
    void Load();

    filesystems::TreeVolume& volume_;
    filesystems::FoundObject object_;
    std::string name_;
    std::uint64_t size_;
    bool loaded_ = false;
    std::vector<std::uint8_t> bytes_;
    std::vector<std::uint8_t> unreadable_;
};

}  // namespace duzez::ui
