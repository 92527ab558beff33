#include "filesystems/found_object_stream.h"

#include <gtest/gtest.h>

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

TEST(FoundObjectStream, FailedSectorReadDeliversNothing) {
    test::MemoryVolume volume(std::vector<std::uint8_t>(4096));
    volume.failReads = true;
    FoundObjectStream stream(volume, nullptr);
    EXPECT_EQ(stream.Object.Size, kUnknownSize);
    std::vector<std::uint8_t> buffer(10);
    EXPECT_EQ(stream.Read(buffer), 0u);
    EXPECT_EQ(stream.Position, 0u);
    std::vector<std::uint8_t> none;
    EXPECT_EQ(stream.Read(none), 0u);
}

}  // namespace
}  // namespace duzez::filesystems
