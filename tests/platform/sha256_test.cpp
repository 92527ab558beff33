#include "platform/sha256.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/temp_folder.h"

namespace duzez::platform {
namespace {

using duzez::test::CommandOutput;
using duzez::test::HaveTool;
using duzez::test::TempFolder;
using duzez::test::WriteFile;

std::string SumOf(const std::filesystem::path& file) {
    return CommandOutput("sha256sum '" + file.string() + "'").substr(0, 64);
}

// The published examples: empty, one block, two blocks, and many blocks.
TEST(Sha256, KnownVectors) {
    const struct {
        std::string text;
        const char* digest;
    } kCases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [text, digest] : kCases)
        EXPECT_EQ(Sha256Hex(text), digest) << text.size() << " bytes";
}

// Lengths around the padding's edges, given at once and in uneven pieces, agree with
// sha256sum.
TEST(Sha256, EveryLengthNearABlockEdgeAgreesWithSha256sum) {
    if (!HaveTool("sha256sum"))
        GTEST_SKIP() << "sha256sum missing";
    TempFolder dir;
    for (const std::size_t size : {1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u}) {
        const std::string bytes = duzez::test::RandomBytes(size, static_cast<unsigned>(size));
        WriteFile(dir / "data", bytes);
        const std::string expected = SumOf(dir / "data");
        EXPECT_EQ(Sha256Hex(bytes), expected) << size;
        Sha256 pieces;
        for (std::size_t at = 0, step = 1; at < size; at += step, step = step * 3 % 71 + 1)
            pieces.Update(std::string_view(bytes).substr(at, step));
        EXPECT_EQ(Sha256::Hex(pieces.Finish()), expected) << size << " in pieces";
    }
}

TEST(Sha256, AFileIsReadWholeButNotThroughALink) {
    if (!HaveTool("sha256sum"))
        GTEST_SKIP() << "sha256sum missing";
    TempFolder dir;
    // Larger than the read buffer, and not a multiple of it.
    WriteFile(dir / "photo.jpg", duzez::test::RandomBytes(3 * 1048576 + 17, 9));
    EXPECT_EQ(FileSha256(dir / "photo.jpg"), SumOf(dir / "photo.jpg"));
    std::filesystem::create_symlink(dir / "photo.jpg", dir / "link.jpg");
    EXPECT_FALSE(FileSha256(dir / "link.jpg"));
    EXPECT_FALSE(FileSha256(dir.path()));
    EXPECT_FALSE(FileSha256(dir / "missing"));
}

}  // namespace
}  // namespace duzez::platform
