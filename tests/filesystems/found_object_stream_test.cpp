#include "filesystems/found_object_stream.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/filesystems/fake_volume.h"

namespace duzez::filesystems {
namespace {

std::vector<std::uint8_t> Pattern(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    return bytes;
}

TEST(FoundObjectStream, ReadsOnlyTheSectorsItNeeds) {
    const auto bytes = Pattern(8192);
    test::MemoryVolume volume(bytes);
    FoundObject object;
    object.Start = 0;
    object.Size = 5000;
    FoundObjectStream stream(volume, &object);

    std::vector<std::uint8_t> small(100);
    stream.Seek(1000, 0);
    EXPECT_EQ(stream.Read(small), 100u);
    EXPECT_TRUE(std::equal(small.begin(), small.end(), bytes.begin() + 1000));
    // Bytes 1000 to 1099 lie in sectors 1 and 2.
    EXPECT_EQ(volume.reads, (std::vector<std::pair<std::uint64_t, std::uint64_t>>{{1, 2}}));
    EXPECT_EQ(stream.Position, 1100u);

    volume.reads.clear();
    std::vector<std::uint8_t> large(1000);
    stream.SeekTo(300);
    EXPECT_EQ(stream.Read(large), 1000u);
    EXPECT_TRUE(std::equal(large.begin(), large.end(), bytes.begin() + 300));
    EXPECT_EQ(volume.reads, (std::vector<std::pair<std::uint64_t, std::uint64_t>>{{0, 3}}));
}

TEST(FoundObjectStream, AnObjectOfOddSizeIsReadToItsLastByte) {
    const auto bytes = Pattern(4096);
    test::MemoryVolume volume(bytes);
    FoundObject object;
    object.Start = 1536;
    object.Size = 1000;
    FoundObjectStream stream(volume, &object);
    std::vector<std::uint8_t> all(1000);
    EXPECT_EQ(stream.Read(all), 1000u);
    EXPECT_TRUE(std::equal(all.begin(), all.end(), bytes.begin() + 1536));
}

TEST(FoundObjectStream, APhotoInTwoPiecesReadsAsOneFile) {
    const auto bytes = Pattern(16384);
    test::MemoryVolume volume(bytes);
    FoundObject object;
    object.Start = 1024;
    object.FirstPieceSize = 2048;
    object.SecondPieceStart = 8192;
    object.Size = 5000;
    FoundObjectStream stream(volume, &object);
    EXPECT_EQ(stream.CheckBounds(), 0u);
    std::vector<std::uint8_t> expected(bytes.begin() + 1024, bytes.begin() + 3072);
    expected.insert(expected.end(), bytes.begin() + 8192, bytes.begin() + 8192 + 2952);
    // Whole, in odd reads that cross the joint, and from within the second piece.
    std::vector<std::uint8_t> all(5000);
    EXPECT_EQ(stream.Read(all), 5000u);
    EXPECT_EQ(all, expected);
    std::vector<std::uint8_t> across(777);
    stream.SeekTo(1500);
    EXPECT_EQ(stream.Read(across), 777u);
    EXPECT_TRUE(std::equal(across.begin(), across.end(), expected.begin() + 1500));
    std::vector<std::uint8_t> later(100);
    stream.SeekTo(4000);
    EXPECT_EQ(stream.Read(later), 100u);
    EXPECT_TRUE(std::equal(later.begin(), later.end(), expected.begin() + 4000));

    // A second piece that would run past the volume is refused before any read.
    object.SecondPieceStart = 14000;
    EXPECT_EQ(FoundObjectStream(volume, &object).CheckBounds(), FoundObjectStream::kOutOfBounds);
}

TEST(FoundObjectStream, SeekOriginsAndBounds) {
    test::MemoryVolume volume(std::vector<std::uint8_t>(4096));
    FoundObject object;
    object.Size = 3000;
    FoundObjectStream stream(volume, &object);
    EXPECT_EQ(stream.Seek(100, 0), 100u);
    EXPECT_EQ(stream.Seek(50, 1), 150u);
    EXPECT_EQ(stream.Seek(7, 2), 3000u);
    EXPECT_EQ(stream.SeekTo(~0ull), 3000u);
    EXPECT_EQ(stream.CheckBounds(), 0u);
    stream.Object.Start = 5000;
    EXPECT_EQ(stream.CheckBounds(), FoundObjectStream::kOutOfBounds);
    stream.Object.Start = 0;
    stream.Object.Size = 5000;
    EXPECT_EQ(stream.CheckBounds(), FoundObjectStream::kOutOfBounds);
}

// A sector that cannot be read costs that sector, not the block or the rest of the file.
TEST(FoundObjectStream, AnUnreadableSectorReadsAsZerosAndIsCounted) {
    const auto bytes = Pattern(8192);
    test::MemoryVolume volume(bytes);
    volume.badSectors = {2, 5};
    FoundObject object;
    object.Start = 512;
    object.Size = 6000;
    FoundObjectStream stream(volume, &object);
    std::vector<std::uint8_t> all(6000, 0xAA);
    ASSERT_EQ(stream.Read(all), 6000u);
    EXPECT_EQ(stream.Damage.unreadableSectors, 2u);
    EXPECT_FALSE(stream.Damage.endGuessed);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const std::uint64_t sector = (object.Start + i) / 512;
        const std::uint8_t expected =
            sector == 2 || sector == 5 ? 0 : bytes[static_cast<std::size_t>(object.Start) + i];
        ASSERT_EQ(all[i], expected) << "byte " << i;
    }

    // Unaligned reads go through the same salvage.
    FoundObjectStream odd(volume, &object);
    odd.Seek(700, 0);
    std::vector<std::uint8_t> part(100, 0xAA);
    ASSERT_EQ(odd.Read(part), 100u);
    EXPECT_EQ(odd.Damage.unreadableSectors, 1u);
    EXPECT_TRUE(std::all_of(part.begin(), part.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST(FoundObjectStream, ADeadVolumeDeliversZerosWithEverySectorCounted) {
    test::MemoryVolume volume(std::vector<std::uint8_t>(4096, 7));
    volume.failReads = true;
    FoundObjectStream stream(volume, nullptr);
    EXPECT_EQ(stream.Object.Size, kUnknownSize);
    std::vector<std::uint8_t> buffer(1024, 0xAA);
    EXPECT_EQ(stream.Read(buffer), 1024u);
    EXPECT_EQ(stream.Damage.unreadableSectors, 2u);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == 0; }));
    std::vector<std::uint8_t> none;
    EXPECT_EQ(stream.Read(none), 0u);
}

}  // namespace
}  // namespace duzez::filesystems
