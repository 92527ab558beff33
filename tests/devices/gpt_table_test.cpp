// The GUID partition table over crafted disks: both copies and which is read, the CRCs,
// 4096-byte sectors, hybrid MBRs, and headers whose counts and sizes are forged.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "devices/gpt_table.h"
#include "devices/partition_table.h"
#include "platform/byte_order.h"

namespace duzez::devices {
namespace {

using platform::WriteLe;

constexpr gpt::Guid kBasicData = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                  0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
constexpr gpt::Guid kUnknownType = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

struct PartitionEntry {
    gpt::Guid type;
    std::uint64_t first;
    std::uint64_t last;
    std::u16string name;
};

// A disk image in memory with a protective MBR and both GPT copies, as a partitioning
// tool lays them out: primary header at LBA 1 with its array at LBA 2, backup array
// before the backup header in the last sector.
class GptDisk {
  public:
    GptDisk(std::uint64_t sectors, std::uint32_t sectorSize = 512)
        : sectorSize_(sectorSize), bytes_(sectors * sectorSize) {}

    void Write(const std::vector<PartitionEntry>& partitions, std::uint32_t entryCount = 128,
               std::uint32_t entrySize = 128) {
        const std::uint64_t sectors = bytes_.size() / sectorSize_;
        // Protective MBR.
        bytes_[446 + 4] = 0xEE;
        WriteLe<std::uint32_t>(bytes_, 446 + 8, 1);
        WriteLe<std::uint32_t>(bytes_, 446 + 12, static_cast<std::uint32_t>(sectors - 1));
        bytes_[510] = 0x55;
        bytes_[511] = 0xAA;
        std::vector<std::uint8_t> array(std::size_t{entryCount} * entrySize);
        for (std::size_t i = 0; i < partitions.size(); ++i) {
            const auto entry = std::span(array).subspan(i * entrySize, entrySize);
            std::memcpy(entry.data(), partitions[i].type.data(), 16);
            entry[16] = static_cast<std::uint8_t>(i + 1);
            WriteLe<std::uint64_t>(entry, 32, partitions[i].first);
            WriteLe<std::uint64_t>(entry, 40, partitions[i].last);
            for (std::size_t c = 0; c < partitions[i].name.size() && c < 36; ++c)
                WriteLe<std::uint16_t>(entry, 56 + 2 * c, partitions[i].name[c]);
        }
        const std::uint64_t arraySectors = (array.size() + sectorSize_ - 1) / sectorSize_;
        const std::uint64_t firstUsable = 2 + arraySectors;
        const std::uint64_t lastUsable = sectors - 2 - arraySectors;
        WriteCopy(1, sectors - 1, 2, array, entryCount, entrySize, firstUsable, lastUsable);
        WriteCopy(sectors - 1, 1, sectors - 1 - arraySectors, array, entryCount, entrySize,
                  firstUsable, lastUsable);
    }

    // Zeroes logical sector `lba`.
    void Wipe(std::uint64_t lba) {
        std::fill_n(bytes_.begin() + static_cast<std::ptrdiff_t>(lba * sectorSize_), sectorSize_,
                    0);
    }
    void Poke(std::uint64_t byte, std::uint8_t value) { bytes_[byte] = value; }
    std::uint8_t& At(std::uint64_t byte) { return bytes_[byte]; }
    std::uint64_t Bytes() const { return bytes_.size(); }
    std::uint64_t Sectors() const { return bytes_.size() / sectorSize_; }

    SectorReader Reader() {
        return [this](std::uint64_t sector, std::span<std::uint8_t> buffer) {
            ++reads;
            if ((sector + 1) * 512 > bytes_.size())
                return false;
            std::memcpy(buffer.data(), bytes_.data() + sector * 512, 512);
            return true;
        };
    }
    std::size_t reads = 0;

  private:
    void WriteCopy(std::uint64_t lba, std::uint64_t alternate, std::uint64_t arrayLba,
                   const std::vector<std::uint8_t>& array, std::uint32_t count, std::uint32_t size,
                   std::uint64_t firstUsable, std::uint64_t lastUsable) {
        std::memcpy(bytes_.data() + arrayLba * sectorSize_, array.data(), array.size());
        const auto header = std::span(bytes_).subspan(lba * sectorSize_, sectorSize_);
        std::memcpy(header.data(), "EFI PART", 8);
        WriteLe<std::uint32_t>(header, 8, 0x00010000);
        WriteLe<std::uint32_t>(header, 12, 92);
        WriteLe<std::uint64_t>(header, 24, lba);
        WriteLe<std::uint64_t>(header, 32, alternate);
        WriteLe<std::uint64_t>(header, 40, firstUsable);
        WriteLe<std::uint64_t>(header, 48, lastUsable);
        WriteLe<std::uint64_t>(header, 72, arrayLba);
        WriteLe<std::uint32_t>(header, 80, count);
        WriteLe<std::uint32_t>(header, 84, size);
        WriteLe<std::uint32_t>(header, 88, gpt::Crc32(array));
        WriteLe<std::uint32_t>(header, 16, 0);
        WriteLe<std::uint32_t>(header, 16, gpt::Crc32(header.first(92)));
    }

    std::uint32_t sectorSize_;
    std::vector<std::uint8_t> bytes_;
};

WalkResult Walk(GptDisk& disk, std::uint32_t sectorSize = 0) {
    return WalkPartitionTables(disk.Reader(), disk.Bytes() / 512, sectorSize);
}

TEST(GptTable, CrcOfTheStandardCheckString) {
    const std::string check = "123456789";
    EXPECT_EQ(
        gpt::Crc32(std::span(reinterpret_cast<const std::uint8_t*>(check.data()), check.size())),
        0xCBF43926u);
}

TEST(GptTable, ListsEveryEntryWithItsTypeNameAndUtf16Name) {
    GptDisk disk(8192);
    disk.Write({{kBasicData, 2048, 4095, u"Fotos \u00e9t\u00e9"}, {kUnknownType, 4096, 6143, u""}});
    const WalkResult walk = Walk(disk);
    ASSERT_EQ(walk.kind, TableKind::Gpt);
    EXPECT_FALSE(walk.gptFromBackup);
    ASSERT_EQ(walk.partitions.size(), 2u);
    EXPECT_EQ(walk.partitions[0].startSector, 2048u);
    EXPECT_EQ(walk.partitions[0].sectorCount, 2048u);
    EXPECT_EQ(walk.partitions[0].typeName, "Microsoft basic data");
    EXPECT_EQ(walk.partitions[0].name, "Fotos \xc3\xa9t\xc3\xa9");
    EXPECT_EQ(walk.partitions[1].typeName, "04030201-0605-0807-090A-0B0C0D0E0F10");
    EXPECT_FALSE(walk.partitions[1].damaged);
}

TEST(GptTable, ADamagedPrimaryHeaderOrArrayLeadsToTheBackup) {
    for (const bool header : {true, false}) {
        GptDisk disk(8192);
        disk.Write({{kBasicData, 2048, 4095, u"Data"}});
        if (header)
            disk.At(512 + 30) ^= 0xFF;  // a header field: its CRC no longer fits
        else
            disk.At(2 * 512 + 40) ^= 0xFF;  // the array: the header's array CRC no longer fits
        const WalkResult walk = Walk(disk);
        ASSERT_EQ(walk.kind, TableKind::Gpt) << header;
        EXPECT_TRUE(walk.gptFromBackup) << header;
        ASSERT_EQ(walk.partitions.size(), 1u);
        EXPECT_EQ(walk.partitions[0].name, "Data");
        EXPECT_EQ(walk.partitions[0].startSector, 2048u);
    }
}

TEST(GptTable, AWipedBackupIsIgnoredAndBothGoneLeavesTheHybridEntries) {
    GptDisk disk(8192);
    disk.Write({{kBasicData, 2048, 4095, u"Data"}});
    disk.Wipe(disk.Sectors() - 1);
    WalkResult walk = Walk(disk);
    EXPECT_EQ(walk.kind, TableKind::Gpt);
    EXPECT_FALSE(walk.gptFromBackup);
    EXPECT_EQ(walk.partitions.size(), 1u);

    // A hybrid MBR: a FAT32 entry beside the protective one. With both GPT copies gone the
    // FAT32 entry is what is left; the protective entry is no volume.
    disk.At(446 + 16 + 4) = 0x0C;
    WriteLe<std::uint32_t>(std::span(&disk.At(0), 512), 446 + 16 + 8, 2048);
    WriteLe<std::uint32_t>(std::span(&disk.At(0), 512), 446 + 16 + 12, 2048);
    walk = Walk(disk);
    EXPECT_EQ(walk.kind, TableKind::Gpt) << "a hybrid MBR is read as GPT while GPT is sound";
    disk.Wipe(1);
    walk = Walk(disk);
    EXPECT_TRUE(walk.gptUnreadable);
    EXPECT_EQ(walk.kind, TableKind::Mbr);
    ASSERT_EQ(walk.partitions.size(), 1u);
    EXPECT_EQ(walk.partitions[0].type, 0x0C);
}

TEST(GptTable, FourKiBSectorsAreFoundOnAnImageAndScaledToTheEnginesSectors) {
    GptDisk disk(2048, 4096);
    disk.Write({{kBasicData, 256, 511, u"Card"}});
    WalkResult walk = Walk(disk);
    ASSERT_EQ(walk.kind, TableKind::Gpt);
    EXPECT_EQ(walk.logicalSectorSize, 4096u);
    ASSERT_EQ(walk.partitions.size(), 1u);
    EXPECT_EQ(walk.partitions[0].startSector, 256u * 8);
    EXPECT_EQ(walk.partitions[0].sectorCount, 256u * 8);
    // A disk that says it has 512-byte sectors does not find the 4096-byte table.
    walk = Walk(disk, 512);
    EXPECT_NE(walk.kind, TableKind::Gpt);
    // Its backup alone is found too.
    disk.Wipe(1);
    walk = Walk(disk);
    ASSERT_EQ(walk.kind, TableKind::Gpt);
    EXPECT_TRUE(walk.gptFromBackup);
    EXPECT_EQ(walk.logicalSectorSize, 4096u);
}

TEST(GptTable, EntriesOutsideTheDiskOrUsableAreaAreShownDamaged) {
    GptDisk disk(8192);
    disk.Write({{kBasicData, 2048, 4095, u"Good"},
                {kBasicData, 6000, 900000, u"Past the end"},
                {kBasicData, 1, 100, u"Over the header"},
                {kBasicData, 5000, 4000, u"Backwards"}});
    const WalkResult walk = Walk(disk);
    ASSERT_EQ(walk.partitions.size(), 4u);
    EXPECT_FALSE(walk.partitions[0].damaged);
    for (std::size_t i = 1; i < 4; ++i) {
        EXPECT_TRUE(walk.partitions[i].damaged) << walk.partitions[i].name;
        EXPECT_EQ(walk.partitions[i].sectorCount, 0u) << walk.partitions[i].name;
    }
}

TEST(GptTable, ForgedCountsAndSizesAreRefusedWithoutHugeReads) {
    struct Forgery {
        std::uint32_t count;
        std::uint32_t size;
    };
    for (const Forgery forged : {Forgery{0x7FFFFFFF, 128}, Forgery{1025, 128}, Forgery{4, 64},
                                 Forgery{4, 8192}, Forgery{4, 192}, Forgery{0, 128}}) {
        GptDisk disk(8192);
        disk.Write({{kBasicData, 2048, 4095, u"Data"}}, 4, 128);
        // Rewrite the primary header's count and size, with a CRC that fits them, so that
        // only the bounds refuse it.
        const auto header = std::span(&disk.At(512), 512);
        WriteLe<std::uint32_t>(header, 80, forged.count);
        WriteLe<std::uint32_t>(header, 84, forged.size);
        WriteLe<std::uint32_t>(header, 16, 0);
        WriteLe<std::uint32_t>(header, 16, gpt::Crc32(header.first(92)));
        const WalkResult walk = Walk(disk);
        EXPECT_TRUE(walk.gptFromBackup) << forged.count << " x " << forged.size;
        EXPECT_EQ(walk.partitions.size(), 1u);
        EXPECT_LT(disk.reads, 200u) << forged.count << " x " << forged.size;
    }
}

TEST(GptTable, AHeaderLargerThanItsSectorOrOfAnotherRevisionIsRefused) {
    std::vector<std::uint8_t> sector(512);
    std::memcpy(sector.data(), "EFI PART", 8);
    WriteLe<std::uint32_t>(sector, 8, 0x00010000);
    WriteLe<std::uint32_t>(sector, 12, 600);
    EXPECT_FALSE(gpt::ParseHeader(sector, 512, 1000));
    WriteLe<std::uint32_t>(sector, 12, 92);
    WriteLe<std::uint32_t>(sector, 8, 0x00000100);
    EXPECT_FALSE(gpt::ParseHeader(sector, 512, 1000));
}

}  // namespace
}  // namespace duzez::devices
