// The exFAT byte rules over crafted bytes and over an entry set exfat-fuse wrote.

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "filesystems/boot_record.h"
#include "filesystems/exfat/exfat_layout.h"
#include "filesystems/file_system.h"

namespace duzez::filesystems::exfat {
namespace {

// Writes `v` little-endian at `at`, in as many bytes as T holds.
template <typename T>
void Put(std::vector<std::uint8_t>& b, std::size_t at, T v) {
    for (std::size_t i = 0; i < sizeof(T); ++i)
        b[at + i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(v) >> (8 * i));
}
void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    Put(b, at, v);
}
void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    Put(b, at, v);
}
void Put64(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) {
    Put(b, at, v);
}

// A 64 MiB volume of 512-byte sectors and 4 KiB clusters, as mkfs.exfat lays one out.
std::vector<std::uint8_t> GoodBootSector() {
    std::vector<std::uint8_t> b(512, 0);
    b[0] = 0xEB;
    b[1] = 0x76;
    b[2] = 0x90;
    std::memcpy(b.data() + 3, "EXFAT   ", 8);
    Put64(b, 72, 131072);  // volume length
    Put32(b, 80, 2048);    // FAT offset
    Put32(b, 84, 64);      // FAT length: 32 KiB, room for 8,190 entries
    Put32(b, 88, 4096);    // cluster heap offset
    Put32(b, 92, 15872);   // clusters: (131072 - 4096) / 8
    Put32(b, 96, 5);       // root directory
    Put32(b, 100, 0x1234ABCD);
    Put16(b, 104, 0x0100);
    b[108] = 9;
    b[109] = 3;
    b[110] = 1;
    b[510] = 0x55;
    b[511] = 0xAA;
    return b;
}

// FAT length above is too small for 15,872 clusters; this one fits.
std::vector<std::uint8_t> ValidBootSector() {
    auto b = GoodBootSector();
    Put32(b, 84, 128);  // 64 KiB: 16,384 entries
    return b;
}

BootProblem ProblemOf(const std::vector<std::uint8_t>& sector) {
    BootProblem problem = BootProblem::None;
    EXPECT_FALSE(ParseBootSector(sector, &problem).has_value());
    return problem;
}

TEST(ExFatBoot, ReadsAValidBootSector) {
    BootProblem problem = BootProblem::Checksum;
    const auto boot = ParseBootSector(ValidBootSector(), &problem);
    ASSERT_TRUE(boot.has_value()) << BootProblemText(problem);
    EXPECT_EQ(problem, BootProblem::None);
    EXPECT_EQ(boot->BytesPerSector(), 512u);
    EXPECT_EQ(boot->ClusterBytes(), 4096u);
    EXPECT_EQ(boot->clusterCount, 15872u);
    EXPECT_EQ(boot->rootCluster, 5u);
    EXPECT_EQ(boot->serial, 0x1234ABCDu);
    EXPECT_EQ(boot->ActiveFatOffset(), 2048u);
}

TEST(ExFatBoot, RefusesEachBrokenRule) {
    using Sector = std::vector<std::uint8_t>;
    struct Case {
        const char* broken;
        void (*change)(Sector&);
        BootProblem expected;
    };
    const Case cases[] = {
        {"no signature", [](Sector& b) { b[511] = 0; }, BootProblem::NoSignature},
        {"name", [](Sector& b) { b[3] = 'N'; }, BootProblem::NotExFat},
        {"where FAT keeps its parameters", [](Sector& b) { b[40] = 1; }, BootProblem::NotZeroed},
        {"sector shift 8", [](Sector& b) { b[108] = 8; }, BootProblem::SectorSize},
        {"sector shift 13", [](Sector& b) { b[108] = 13; }, BootProblem::SectorSize},
        {"64 MiB clusters", [](Sector& b) { b[109] = 17; }, BootProblem::ClusterSize},
        {"three FATs", [](Sector& b) { b[110] = 3; }, BootProblem::FatCount},
        {"revision 2", [](Sector& b) { Put16(b, 104, 0x0200); }, BootProblem::Revision},
        {"FAT in the backup boot region", [](Sector& b) { Put32(b, 80, 12); }, BootProblem::Layout},
        {"heap inside the FAT", [](Sector& b) { Put32(b, 88, 2100); }, BootProblem::Layout},
        {"one cluster more than the volume holds", [](Sector& b) { Put32(b, 92, 15873); },
         BootProblem::ClusterCount},
        {"no clusters", [](Sector& b) { Put32(b, 92, 0); }, BootProblem::ClusterCount},
        {"root 0", [](Sector& b) { Put32(b, 96, 0); }, BootProblem::RootCluster},
        {"root 1", [](Sector& b) { Put32(b, 96, 1); }, BootProblem::RootCluster},
        {"root past the heap", [](Sector& b) { Put32(b, 96, 15874); }, BootProblem::RootCluster},
        {"root all ones", [](Sector& b) { Put32(b, 96, 0xFFFFFFFF); }, BootProblem::RootCluster},
        {"under 1 MiB", [](Sector& b) { Put64(b, 72, 2047); }, BootProblem::VolumeLength},
        {"bytes beyond 64 bits", [](Sector& b) { Put64(b, 72, ~0ull); }, BootProblem::VolumeLength},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.broken);
        auto b = ValidBootSector();
        c.change(b);
        EXPECT_EQ(ProblemOf(b), c.expected);
    }
    EXPECT_EQ(ProblemOf(GoodBootSector()), BootProblem::Layout) << "FAT too short for the heap";
    EXPECT_EQ(ProblemOf(Sector(100, 0)), BootProblem::TooShort);
}

TEST(ExFatBoot, IsRecognisedByItsNameAndSignature) {
    auto b = ValidBootSector();
    EXPECT_EQ(DetectFileSystem(b), FileSystemIds::ExFat);
    EXPECT_EQ(CFileSystem::NameForId(FileSystemIds::ExFat), "exFAT");
    const auto fields = ReadBootFields(b, FileSystemIds::ExFat);
    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->fatSerial, 0x1234ABCDu);
    EXPECT_EQ(fields->exfatVolumeLength, 131072u);
    EXPECT_EQ(fields->exfatSectorShift, 9);
    EXPECT_EQ(fields->exfatClusterShift, 3);
    EXPECT_TRUE(fields->fatLabel.empty()) << "an exFAT label is in its root, not here";
    b[510] = 0;
    EXPECT_EQ(DetectFileSystem(b), 0u) << "no boot signature";
    b = ValidBootSector();
    std::memcpy(b.data() + 3, "EXFAT  ", 8);  // one blank short
    EXPECT_EQ(DetectFileSystem(b), 0u);
    // A FAT type text still wins, as it does over NTFS.
    b = ValidBootSector();
    std::memcpy(b.data() + 82, "FAT32   ", 8);
    EXPECT_EQ(DetectFileSystem(b), FileSystemIds::Fat32);
}

TEST(ExFatBoot, UsableClustersStopAtTheEndOfAShortVolume) {
    const auto boot = ParseBootSector(ValidBootSector());
    ASSERT_TRUE(boot);
    EXPECT_EQ(UsableClusters(*boot, 131072ull * 512), 15872u);
    EXPECT_EQ(UsableClusters(*boot, 200000ull * 512), 15872u) << "never more than it says";
    EXPECT_EQ(UsableClusters(*boot, (4096ull + 80) * 512 + 100), 10u);
    EXPECT_EQ(UsableClusters(*boot, 4096ull * 512), 0u);
    EXPECT_EQ(UsableClusters(*boot, 0), 0u);
}

// A region of zeros but a 1 in its first byte: every later byte turns the sum right once,
// except the three bytes left out, so 5,628 turns leave 1 rotated right by 28: 16.
TEST(ExFatBoot, RegionChecksumTurnsRightAndSkipsTheChangingBytes) {
    std::vector<std::uint8_t> region(12 * 512, 0);
    region[0] = 1;
    EXPECT_EQ(BootChecksum(region, 512), 16u);
    for (const std::size_t skipped : {106, 107, 112}) {
        auto changed = region;
        changed[skipped] = 0x5A;
        EXPECT_EQ(BootChecksum(changed, 512), 16u) << skipped;
    }
    for (const std::size_t counted : {0, 105, 108, 111, 113, 11 * 512 - 1}) {
        auto changed = region;
        changed[counted] ^= 0x01;
        EXPECT_NE(BootChecksum(changed, 512), 16u) << counted;
    }
    // The checksum sector (the 12th) is not part of its own sum.
    region[11 * 512] = 0xFF;
    EXPECT_EQ(BootChecksum(region, 512), 16u);
}

TEST(ExFatBoot, RegionChecksumMustFillTheWholeLastSector) {
    for (const std::uint32_t sector : {512u, 4096u}) {
        SCOPED_TRACE(sector);
        std::vector<std::uint8_t> region(12 * sector, 0);
        region[0] = 1;
        // 11 x sector bytes, 3 skipped: (11 x sector - 4) turns of the first byte's 1.
        const std::uint32_t turns = (11 * sector - 4) % 32;
        const std::uint32_t expected = turns == 0 ? 1u : (1u << (32 - turns));
        for (std::size_t at = 11 * sector; at < 12 * sector; at += 4)
            Put32(region, at, expected);
        EXPECT_TRUE(BootRegionChecksumOk(region, sector));
        auto wrongWord = region;
        wrongWord[12 * sector - 1] ^= 0x80;
        EXPECT_FALSE(BootRegionChecksumOk(wrongWord, sector)) << "the last word counts too";
        auto damaged = region;
        damaged[200] = 7;
        EXPECT_FALSE(BootRegionChecksumOk(damaged, sector));
        auto volatileBytes = region;
        volatileBytes[106] = 2;   // volume flags
        volatileBytes[112] = 50;  // percent in use
        EXPECT_TRUE(BootRegionChecksumOk(volatileBytes, sector));
        EXPECT_FALSE(BootRegionChecksumOk(std::span(region).first(11 * sector), sector));
    }
}

TEST(ExFatTables, TableChecksumOfAFewBytes) {
    const std::vector<std::uint8_t> bytes{1, 0, 0};
    EXPECT_EQ(TableChecksum(bytes), 0x40000000u);
    const std::vector<std::uint8_t> more{1, 2};
    EXPECT_EQ(TableChecksum(more), 0x80000002u);
}

// The entry set exfat-fuse wrote for "photo.jpg" (5 bytes, contiguous, at cluster 6),
// modified 2026-12-07 10:25:56 + 1.00 s, UTC offset 0 and valid.
std::vector<std::uint8_t> RealSet() {
    const char* hex =
        "8502542f200000003c53875d3c53875d3c53875d646480808000000000000000"
        "c003000960610000050000000000000000000000060000000500000000000000"
        "c100700068006f0074006f002e006a0070006700000000000000000000000000";
    std::vector<std::uint8_t> bytes;
    for (const char* p = hex; p[0] != 0 && p[1] != 0; p += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
    return bytes;
}

std::vector<std::uint8_t> Deleted(std::vector<std::uint8_t> set) {
    for (std::size_t at = 0; at < set.size(); at += kEntrySize)
        set[at] &= 0x7F;
    return set;
}

TEST(ExFatEntrySet, ChecksumMatchesWhatExfatFuseWrote) {
    const auto set = RealSet();
    EXPECT_EQ(EntrySetChecksum(set), 0x2F54);
    const auto gone = Deleted(set);
    EXPECT_NE(EntrySetChecksum(gone), 0x2F54) << "the type bytes are summed";
    EXPECT_EQ(EntrySetChecksum(gone, true), 0x2F54) << "as written, before deletion";
    auto changed = set;
    changed[2] = 0;  // the checksum field itself is not summed
    changed[3] = 0;
    EXPECT_EQ(EntrySetChecksum(changed), 0x2F54);
    changed[70] ^= 1;
    EXPECT_NE(EntrySetChecksum(changed), 0x2F54);
}

// A deleted set reads as the live one did, its checksum still good.
TEST(ExFatEntrySet, ParsesALiveAndADeletedSet) {
    auto deleted = Deleted(RealSet());
    deleted.resize(deleted.size() + kEntrySize, 0);  // end of directory after it
    for (const bool inUse : {true, false}) {
        SCOPED_TRACE(inUse ? "live" : "deleted");
        const auto set = ParseFileSet(inUse ? RealSet() : deleted);
        ASSERT_TRUE(set);
        EXPECT_EQ(set->inUse, inUse);
        EXPECT_TRUE(set->checksumOk);
        EXPECT_EQ(set->entryCount, 3u);
        EXPECT_EQ(NameToUtf8(set->name), "photo.jpg");
        EXPECT_EQ(set->attributes, 0x20);
        EXPECT_FALSE(set->IsFolder());
        EXPECT_TRUE(set->noFatChain);
        EXPECT_EQ(set->firstCluster, 6u);
        EXPECT_EQ(set->dataLength, 5u);
        EXPECT_EQ(set->validDataLength, 5u);
        EXPECT_EQ(set->nameHash, 0x6160);
        EXPECT_EQ(set->modified, 134411127570000000ull);
    }
    // Half deleted is no set: the stream would belong to another.
    auto mixed = RealSet();
    mixed[0] = 0x05;
    EXPECT_FALSE(ParseFileSet(mixed));
}

TEST(ExFatEntrySet, HostileCountsAreBounded) {
    // A secondary count of 255 over three real entries and the start of the next set.
    auto bytes = RealSet();
    bytes[1] = 255;
    const auto next = RealSet();
    bytes.insert(bytes.end(), next.begin(), next.end());
    auto set = ParseFileSet(bytes);
    ASSERT_TRUE(set);
    EXPECT_FALSE(set->checksumOk);
    EXPECT_EQ(set->entryCount, 3u) << "stops at the next primary entry";
    EXPECT_EQ(NameToUtf8(set->name), "photo.jpg");

    // The count past the end of the directory.
    bytes = RealSet();
    bytes[1] = 3;
    set = ParseFileSet(bytes);
    ASSERT_TRUE(set);
    EXPECT_FALSE(set->checksumOk);
    EXPECT_EQ(set->entryCount, 3u);

    // Each change below leaves no set that could be read.
    using Set = std::vector<std::uint8_t>;
    const std::pair<const char*, void (*)(Set&)> refused[] = {
        {"16 name units need two name entries", [](Set& b) { b[32 + 3] = 16; }},
        {"the count claims two name entries, the second is missing",
         [](Set& b) {
             b[32 + 3] = 16;
             b[1] = 3;
         }},
        {"17 name entries do not fit a count of 2", [](Set& b) { b[32 + 3] = 255; }},
        {"a name of no units", [](Set& b) { b[32 + 3] = 0; }},
        {"no room for a name", [](Set& b) { b[1] = 1; }},
        {"no stream right after the file entry",
         [](Set& b) { std::swap_ranges(b.begin() + 32, b.begin() + 64, b.begin() + 64); }},
        {"cut short", [](Set& b) { b.resize(64); }},
        {"nothing", [](Set& b) { b.clear(); }},
        {"not a file entry", [](Set& b) { b[0] = 0x81; }},
    };
    for (const auto& [why, change] : refused) {
        bytes = RealSet();
        change(bytes);
        EXPECT_FALSE(ParseFileSet(bytes)) << why;
    }
}

// A set of `units` name units over as many name entries as they need.
std::vector<std::uint8_t> SetWithName(const std::u16string& units) {
    const std::size_t names = (units.size() + 14) / 15;
    std::vector<std::uint8_t> bytes((2 + names) * kEntrySize, 0);
    bytes[0] = 0x85;
    bytes[1] = static_cast<std::uint8_t>(1 + names);
    bytes[32] = 0xC0;
    bytes[32 + 1] = 0x01;
    bytes[32 + 3] = static_cast<std::uint8_t>(units.size());
    for (std::size_t k = 0; k < names; ++k) {
        bytes[(2 + k) * 32] = 0xC1;
        for (std::size_t u = 0; u < 15 && k * 15 + u < units.size(); ++u)
            Put16(bytes, (2 + k) * 32 + 2 + 2 * u, units[k * 15 + u]);
    }
    Put16(bytes, 2, EntrySetChecksum(bytes));
    return bytes;
}

TEST(ExFatNames, AssemblesNamesAcrossEntries) {
    // 31 units over three entries, with a surrogate pair across the first boundary (units
    // 14 and 15).
    std::u16string name = u"Holiday 2024 \u00e9";
    name += u"\xD83D\xDCF7";  // a camera
    name += u"t Kyoto \u4eac\u90fd.jpeg";
    ASSERT_EQ(name.size(), 31u);
    const auto set = ParseFileSet(SetWithName(name));
    ASSERT_TRUE(set);
    EXPECT_TRUE(set->checksumOk);
    EXPECT_EQ(set->entryCount, 5u);
    EXPECT_EQ(NameToUtf8(set->name),
              "Holiday 2024 \xC3\xA9\xF0\x9F\x93\xB7t Kyoto \xE4\xBA\xAC\xE9\x83\xBD.jpeg");

    std::u16string longest(255, u'x');
    longest[254] = u'z';
    const auto full = ParseFileSet(SetWithName(longest));
    ASSERT_TRUE(full);
    EXPECT_EQ(full->entryCount, 19u);
    EXPECT_EQ(full->name.size(), 255u);
    EXPECT_EQ(full->name.back(), u'z');
}

TEST(ExFatNames, HostileUnitsBecomeReplacementCharacters) {
    const std::u16string units{u'a', 0xD800, u'b', 0x0000, u'/', 0xDC00};
    EXPECT_EQ(NameToUtf8(units),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD/\xEF\xBF\xBD");
    const auto set = ParseFileSet(SetWithName(units));
    ASSERT_TRUE(set);
    EXPECT_EQ(NameToUtf8(set->name).find('\0'), std::string::npos);
}

TEST(ExFatTimes, TenMillisecondsAndUtcOffsets) {
    // 2024-03-15 13:45:30 local.
    EXPECT_EQ(TimestampToFileTime(0x586f6daf, 0, 0), 133549839300000000ull) << "no offset";
    // + 1.55 s, written at UTC+02:00: 11:45:31.55 UTC.
    EXPECT_EQ(TimestampToFileTime(0x586f6daf, 155, 0x80 | 8), 133549767315500000ull);
    // 06:45:30 at UTC-05:00 (-20 quarter hours, 7-bit two's complement 0x6C): 11:45:30 UTC.
    EXPECT_EQ(TimestampToFileTime(0x586f35af, 0, 0x80 | 0x6C), 133549767300000000ull);
    // An offset without its valid bit is not applied.
    EXPECT_EQ(TimestampToFileTime(0x586f6daf, 0, 8), 133549839300000000ull);
    // Increments past 1.99 s are not a time.
    EXPECT_EQ(TimestampToFileTime(0x586f6daf, 200, 0), 133549839300000000ull);
    EXPECT_EQ(TimestampToFileTime(0, 0, 0), 0u);
    EXPECT_EQ(TimestampToFileTime(0x586f0000u | (24u << 11), 0, 0), 0u) << "hour 24";
}

TEST(ExFatTables, UpcaseTableExpandsAndHashesNames) {
    // 'a'..'z' to 'A'..'Z', everything before them to itself.
    std::vector<std::uint8_t> stored;
    const auto unit = [&](std::uint16_t u) {
        stored.push_back(static_cast<std::uint8_t>(u));
        stored.push_back(static_cast<std::uint8_t>(u >> 8));
    };
    unit(0xFFFF);
    unit(0x61);
    for (char16_t c = u'A'; c <= u'Z'; ++c)
        unit(c);
    const auto table = UpcaseTable::Decode(stored);
    ASSERT_TRUE(table);
    EXPECT_EQ(table->Size(), 0x61u + 26);
    EXPECT_EQ(table->Map(u'q'), u'Q');
    EXPECT_EQ(table->Map(u'Q'), u'Q');
    EXPECT_EQ(table->Map(0x4E00), 0x4E00) << "beyond the table: itself";
    // exfat-fuse's hash of "photo.jpg", taken over "PHOTO.JPG".
    const std::u16string name = u"photo.jpg";
    EXPECT_EQ(NameHash(name, &*table), 0x6160);
    EXPECT_NE(NameHash(name, nullptr), 0x6160);

    stored.pop_back();
    EXPECT_FALSE(UpcaseTable::Decode(stored)) << "odd length";
    std::vector<std::uint8_t> tooLong{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_FALSE(UpcaseTable::Decode(tooLong)) << "identity runs past 65,536 characters";
    EXPECT_FALSE(UpcaseTable::Decode({}));
}

TEST(ExFatTables, LabelAndTableEntries) {
    std::vector<std::uint8_t> label(32, 0);
    label[0] = 0x83;
    label[1] = 4;
    for (std::size_t i = 0; i < 4; ++i)
        Put16(label, 2 + 2 * i, u"CARD"[i]);
    EXPECT_EQ(VolumeLabelText(label), "CARD");
    label[1] = 12;
    EXPECT_FALSE(VolumeLabelText(label)) << "at most 11 characters";
    label[0] = 0x03;
    label[1] = 4;
    EXPECT_FALSE(VolumeLabelText(label)) << "no label in use";

    std::vector<std::uint8_t> bitmap(32, 0);
    bitmap[0] = 0x81;
    bitmap[1] = 1;
    Put32(bitmap, 20, 2);
    Put64(bitmap, 24, 1984);
    const TableEntry entry = ReadTableEntry(bitmap);
    EXPECT_EQ(entry.flags, 1);
    EXPECT_EQ(entry.firstCluster, 2u);
    EXPECT_EQ(entry.dataLength, 1984u);

    std::vector<std::uint8_t> fat(12, 0);
    Put32(fat, 8, 0xFFFFFFFF);
    EXPECT_EQ(FatEntry(fat, 2), 0xFFFFFFFFu);
    EXPECT_FALSE(FatEntry(fat, 3));
    EXPECT_FALSE(FatEntry(fat, 0xFFFFFFFF));
}

TEST(ExFatPlacement, ClustersAndLengthsAreCheckedAgainstTheHeap) {
    auto set = ParseFileSet(RealSet());
    ASSERT_TRUE(set);
    // 100 clusters of 4 KiB: clusters 2..101.
    auto place = PlaceData(*set, 100, 4096);
    ASSERT_TRUE(place);
    EXPECT_EQ(place->size, 5u);
    EXPECT_FALSE(place->clipped);
    for (const std::uint32_t first : {1u, 102u, 0xFFFFFFFFu}) {
        set->firstCluster = first;
        EXPECT_FALSE(PlaceData(*set, 100, 4096)) << first;
    }
    set->firstCluster = 101;
    EXPECT_TRUE(PlaceData(*set, 100, 4096));

    // A contiguous file from cluster 90 has 12 clusters of room.
    set->firstCluster = 90;
    set->dataLength = 1ull << 62;
    set->validDataLength = ~0ull;
    place = PlaceData(*set, 100, 4096);
    ASSERT_TRUE(place);
    EXPECT_TRUE(place->clipped);
    EXPECT_EQ(place->size, 12u * 4096);
    EXPECT_EQ(place->validSize, 12u * 4096);
    // A chain may use the whole heap.
    set->noFatChain = false;
    place = PlaceData(*set, 100, 4096);
    ASSERT_TRUE(place);
    EXPECT_EQ(place->size, 100u * 4096);

    set->dataLength = 5000;
    set->validDataLength = 100;
    place = PlaceData(*set, 100, 4096);
    EXPECT_EQ(place->validSize, 100u);
    EXPECT_FALSE(place->clipped);

    set->firstCluster = 0;
    place = PlaceData(*set, 100, 4096);
    ASSERT_TRUE(place);
    EXPECT_TRUE(place->clipped) << "bytes with no cluster to hold them";
    set->dataLength = 0;
    EXPECT_FALSE(PlaceData(*set, 100, 4096)->clipped);
}

// Free clusters are the clear bits of the heap's clusters only: a last byte's bits past the
// heap are no one's, and a bitmap too short for the heap counts nothing.
TEST(ExFatTables, FreeClustersAreTheClearBitsOfTheHeap) {
    const std::vector<std::uint8_t> bitmap = {0xFF, 0x0F, 0b1110'0101};
    struct Case {
        std::uint64_t clusters;
        std::optional<std::uint64_t> free;
    };
    const Case cases[] = {
        {0, 0}, {8, 0}, {12, 0}, {16, 4}, {17, 4}, {18, 5}, {21, 7}, {24, 7}, {25, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FreeClustersInBitmap(bitmap, c.clusters), c.free) << c.clusters;
}

}  // namespace
}  // namespace duzez::filesystems::exfat
