#include "filesystems/ntfs/ntfs_layout.h"
#include "filesystems/ntfs/lznt1.h"

#include <gtest/gtest.h>

#include <cstring>

namespace duzez::filesystems::ntfs {
namespace {

void Put(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i)
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A 1024-byte record: header, fix-up array at 0x30 for two sectors, attributes from 0x38.
struct RecordBuilder {
    RecordBuilder() : bytes(1024) {
        std::memcpy(bytes.data(), "FILE", 4);
        Put(bytes, 0x04, 0x30, 2);
        Put(bytes, 0x06, 3, 2);
        Put(bytes, 0x14, 0x38, 2);
        Put(bytes, 0x16, 1, 2);
        Put(bytes, 0x1C, 1024, 4);
    }
    // A resident attribute holding `value`; returns its offset.
    std::size_t Resident(std::uint32_t type, const std::vector<std::uint8_t>& value) {
        const std::size_t at = next;
        const std::size_t length = (0x18 + value.size() + 7) / 8 * 8;
        Put(bytes, at, type, 4);
        Put(bytes, at + 4, length, 4);
        Put(bytes, at + 0x10, value.size(), 4);
        Put(bytes, at + 0x14, 0x18, 2);
        std::copy(value.begin(), value.end(),
                  bytes.begin() + static_cast<std::ptrdiff_t>(at + 0x18));
        next += length;
        Put(bytes, next, AttributeType::End, 4);
        return at;
    }
    std::vector<std::uint8_t> bytes;
    std::size_t next = 0x38;
};

std::vector<std::uint8_t> FileNameValue(std::uint32_t parent, const std::string& ascii,
                                        std::uint8_t nameSpace) {
    std::vector<std::uint8_t> value(0x42 + 2 * ascii.size());
    Put(value, 0, parent, 4);
    Put(value, 0x30, 1234, 8);
    value[0x40] = static_cast<std::uint8_t>(ascii.size());
    value[0x41] = nameSpace;
    for (std::size_t i = 0; i < ascii.size(); ++i)
        value[0x42 + 2 * i] = static_cast<std::uint8_t>(ascii[i]);
    return value;
}

TEST(NtfsRuns, SignedOffsetsSparseRunsAndContinuingVcns) {
    const std::vector<std::uint8_t> list = {
        0x21, 0x10, 0x00, 0x01,  // 16 clusters at 256
        0x11, 0x08, 0xF0,        // 8 clusters 16 before: 240
        0x01, 0x04,              // 4 sparse clusters
        0x11, 0x02, 0x05,        // 2 clusters at 245
        0x00, 0x11, 0x01, 0x01,  // after the end: not read
    };
    const auto runs = DecodeRuns(list, 0);
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0].lcn, 256u);
    EXPECT_EQ(runs[1].lcn, 240u) << "a negative offset lies below the previous run";
    EXPECT_EQ(runs[1].firstVcn, 16u);
    EXPECT_TRUE(runs[2].sparse);
    EXPECT_EQ(runs[2].firstVcn, 24u);
    EXPECT_EQ(runs[3].lcn, 245u) << "offsets count from the last run with clusters";
    EXPECT_EQ(runs[3].firstVcn, 28u);
    EXPECT_EQ(runs[3].LastVcn(), 29u);
    EXPECT_EQ(DecodeRuns(list, 100)[0].firstVcn, 100u) << "a later part starts at its own VCN";
}

TEST(NtfsRuns, MalformedListsEndTheDecodingWithoutReadingPastThem) {
    EXPECT_TRUE(DecodeRuns(std::vector<std::uint8_t>{0x19, 1, 2, 3}, 0).empty())
        << "nine length bytes";
    EXPECT_TRUE(DecodeRuns(std::vector<std::uint8_t>{0x31, 0x10, 0x00}, 0).empty()) << "cut short";
    EXPECT_TRUE(DecodeRuns(std::vector<std::uint8_t>{0x11, 0x04, 0x80}, 0).empty())
        << "a first run below cluster 0";
    EXPECT_TRUE(DecodeRuns(std::vector<std::uint8_t>{0x10, 0x05}, 0).empty()) << "no length";
    const std::vector<std::uint8_t> huge = {0x18, 0, 0, 0, 0, 0, 0, 0, 0x7F,
                                            0x18, 0, 0, 0, 0, 0, 0, 0, 0x7F};
    EXPECT_EQ(DecodeRuns(huge, 0).size(), 1u) << "VCNs beyond 63 bits";
    std::vector<std::uint8_t> many;
    for (int i = 0; i < 1000; ++i)
        many.insert(many.end(), {0x11, 0x01, 0x01});
    EXPECT_EQ(DecodeRuns(many, 0, 100).size(), 100u);
}

TEST(NtfsRecords, FixupsPutBackTheLastBytesOfEvery512Bytes) {
    RecordBuilder record;
    Put(record.bytes, 0x30, 0xABCD, 2);  // the update sequence number
    Put(record.bytes, 0x32, 0x1111, 2);
    Put(record.bytes, 0x34, 0x2222, 2);
    Put(record.bytes, 510, 0xABCD, 2);
    Put(record.bytes, 1022, 0xABCD, 2);
    EXPECT_TRUE(ApplyFixups(record.bytes));
    EXPECT_EQ(record.bytes[510], 0x11);
    EXPECT_EQ(record.bytes[1023], 0x22);

    // A stride whose last bytes are not the sequence number was torn in writing.
    RecordBuilder torn;
    Put(torn.bytes, 0x30, 0xABCD, 2);
    Put(torn.bytes, 510, 0xABCD, 2);
    Put(torn.bytes, 1022, 0x1234, 2);
    EXPECT_FALSE(ApplyFixups(torn.bytes));

    RecordBuilder forged;
    Put(forged.bytes, 0x06, 0xFFFF, 2);  // far more entries than strides
    Put(forged.bytes, 0x30, 0xABCD, 2);
    Put(forged.bytes, 510, 0xABCD, 2);
    Put(forged.bytes, 1022, 0xABCD, 2);
    EXPECT_TRUE(ApplyFixups(forged.bytes));  // and stays inside the record
    RecordBuilder outside;
    Put(outside.bytes, 0x04, 1023, 2);  // the array itself past the end
    const auto before = outside.bytes;
    EXPECT_FALSE(ApplyFixups(outside.bytes));
    EXPECT_EQ(outside.bytes, before);
}

TEST(NtfsRecords, AttributeWalksStopAtForgedLengths) {
    RecordBuilder record;
    record.Resident(AttributeType::StandardInformation, std::vector<std::uint8_t>(0x30, 1));
    const std::size_t name = record.Resident(AttributeType::FileName, FileNameValue(5, "A.TXT", 2));
    record.Resident(AttributeType::FileName, FileNameValue(5, "a long name.txt", 1));
    auto first = FindAttribute(record.bytes, AttributeType::FileName);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->offset, name);
    const auto second = FindNextAttribute(record.bytes, *first, AttributeType::FileName);
    ASSERT_TRUE(second);
    EXPECT_EQ(ReadFileName(*ResidentValue(record.bytes, *second))->name, "a long name.txt");
    EXPECT_FALSE(FindAttribute(record.bytes, AttributeType::Data));

    auto zero = record;
    Put(zero.bytes, name + 4, 0, 4);
    EXPECT_FALSE(FindAttribute(zero.bytes, AttributeType::FileName)) << "a length of 0";
    auto past = record;
    Put(past.bytes, name + 4, 0x10000, 4);
    EXPECT_FALSE(FindAttribute(past.bytes, AttributeType::FileName)) << "a length past the end";
    auto value = record;
    Put(value.bytes, name + 0x10, 0x1000, 4);
    EXPECT_FALSE(ResidentValue(value.bytes, *FindAttribute(value.bytes, AttributeType::FileName)))
        << "a value longer than its attribute";
    auto start = record;
    Put(start.bytes, 0x14, 2000, 2);
    EXPECT_FALSE(AttributesWalkable(start.bytes));

    auto units = FileNameValue(5, "abc", 1);
    units[0x40] = 200;  // more name than the value holds
    EXPECT_FALSE(ReadFileName(units));
}

TEST(NtfsRecords, AttributeListEntriesEndAtAZeroLength) {
    std::vector<std::uint8_t> list(0x60);
    Put(list, 0x00, AttributeType::Data, 4);
    Put(list, 0x04, 0x20, 2);
    Put(list, 0x08, 0, 8);
    Put(list, 0x10, 0x0001000000000027ull, 8);  // record 39, sequence 1
    Put(list, 0x20, AttributeType::Data, 4);
    Put(list, 0x24, 0x20, 2);
    Put(list, 0x28, 4096, 8);
    Put(list, 0x30, 41, 8);
    const auto entries = ReadAttributeList(list);
    ASSERT_EQ(entries.size(), 2u) << "the third entry has length 0";
    EXPECT_EQ(entries[0].record, 39u);
    EXPECT_EQ(entries[1].lowestVcn, 4096u);
}

TEST(Lznt1, PlainAndCompressedChunksAndForgedTokens) {
    std::vector<std::uint8_t> out(8192);
    // A compressed chunk: "abc", then a token copying 6 bytes from 3 back: "abcabcabc".
    const std::vector<std::uint8_t> packed = {0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x03, 0x20, 0, 0};
    auto size = DecompressLznt1(packed, out);
    ASSERT_TRUE(size);
    EXPECT_EQ(std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(*size)),
              "abcabcabc");
    // A chunk stored plainly (flag bit clear): taken as it stands.
    const std::vector<std::uint8_t> plain = {0x03, 0x30, 'w', 'x', 'y', 'z'};
    size = DecompressLznt1(plain, out);
    ASSERT_TRUE(size);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 4), "wxyz");
    // A token reaching before the chunk, and a chunk longer than the data: refused.
    EXPECT_FALSE(DecompressLznt1(std::vector<std::uint8_t>{0x03, 0xB0, 0x01, 0x00, 0x70}, out));
    EXPECT_FALSE(DecompressLznt1(std::vector<std::uint8_t>{0xFF, 0xBF, 0x00, 'a'}, out));
    // Output never runs past the buffer, however long the copy.
    std::vector<std::uint8_t> small(5);
    EXPECT_EQ(DecompressLznt1(packed, small), 5u);
}

TEST(NtfsBoot, RecordSizesFromTheBootField) {
    EXPECT_EQ(RecordSizeFromBoot(0xF6, 4096), 1024u);
    EXPECT_EQ(RecordSizeFromBoot(0xF4, 4096), 4096u);
    EXPECT_EQ(RecordSizeFromBoot(2, 512), 1024u);
    EXPECT_FALSE(RecordSizeFromBoot(0, 4096));
    EXPECT_FALSE(RecordSizeFromBoot(0x80, 4096)) << "2^128 bytes";
    EXPECT_FALSE(RecordSizeFromBoot(100, 65536)) << "over 64 KiB";
}

}  // namespace
}  // namespace duzez::filesystems::ntfs
