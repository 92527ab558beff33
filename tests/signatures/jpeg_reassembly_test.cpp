#include "signatures/jpeg_reassembly.h"
#include "signatures/jpeg_scan_decoder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/signatures/memory_reader.h"
#include "tests/support/temp_folder.h"

namespace duzez::signatures {
namespace {

namespace fs = std::filesystem;
constexpr std::uint64_t kCluster = 4096;

std::uint64_t Clusters(std::uint64_t bytes) {
    return (bytes + kCluster - 1) / kCluster;
}

// A volume in memory, laid out cluster by cluster the way a camera's first-free allocation
// leaves it; what is not placed is noise.
class Card {
  public:
    explicit Card(std::uint64_t clusters) : bytes_(test::Noise(clusters * kCluster, 77)) {}

    // `data` at cluster `at`; `owned` when it is a found file whose end is known.
    std::uint64_t Place(std::uint64_t at, const std::string& data, bool owned = false) {
        bytes_.replace(at * kCluster, data.size(), data);
        if (owned)
            owned_.push_back({at * kCluster, at * kCluster + data.size()});
        return at + Clusters(data.size());
    }
    void Zero(std::uint64_t at, std::uint64_t clusters) {
        bytes_.replace(at * kCluster, clusters * kCluster, std::string(clusters * kCluster, '\0'));
    }

    std::optional<TwoPieces> Search(std::uint64_t startCluster, std::uint64_t carvedSize,
                                    const PieceSearchBounds& bounds = {}) {
        PieceSearch search;
        search.start = startCluster * kCluster;
        search.carvedSize = carvedSize;
        search.volumeSize = bytes_.size();
        search.clusterBytes = kCluster;
        search.skipOwned = [this](std::uint64_t at) {
            for (const auto& [begin, end] : owned_) {
                if (at >= begin && at < end)
                    return end;
            }
            return at;
        };
        bytesRead = 0;
        return FindSecondPiece(search, test::MemoryReader(bytes_, &bytesRead), bounds);
    }

    std::string Joined(std::uint64_t start, const TwoPieces& pieces) const {
        return bytes_.substr(start, pieces.firstPieceSize) +
               bytes_.substr(pieces.secondPieceStart, pieces.size - pieces.firstPieceSize);
    }
    std::uint64_t Size() const { return bytes_.size(); }

    std::uint64_t bytesRead = 0;

  private:
    std::string bytes_;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> owned_;
};

struct Photo {
    const char* kind;
    std::string main;   // the photo that gets split
    std::string other;  // other files of the card
    std::string third;
};

// Photos made by ImageMagick (no restart markers), by cjpeg with a restart marker every row,
// as many cameras write them, and progressive. Made once per run into a shared folder.
class Reassembly : public ::testing::TestWithParam<const char*> {
  protected:
    static void SetUpTestSuite() {
        const fs::path folder = fs::temp_directory_path() / "duzez-reassembly-photos-3";
        if (!test::HaveTool("convert") || !test::HaveTool("cjpeg"))
            return;
        if (!fs::exists(folder / "made")) {
            const fs::path work = folder.string() + ".part" + std::to_string(::getpid());
            fs::create_directories(work);
            const std::string w = work.string();
            const bool made = test::RunCommand(
                "cd '" + w +
                "' && convert -size 1600x1200 plasma:fractal -quality 90 magick-main.jpg && "
                "convert -size 800x600 plasma:fractal -quality 85 magick-other.jpg && "
                "convert -size 640x480 gradient:red-blue -quality 85 magick-third.jpg && "
                "convert -size 1600x1200 plasma:fractal main.ppm && "
                "convert -size 800x600 plasma:fractal other.ppm && "
                "cjpeg -quality 90 -restart 1 main.ppm > restart-main.jpg && "
                "cjpeg -quality 85 -restart 1 other.ppm > restart-other.jpg && "
                "cjpeg -quality 80 -restart 1 other.ppm > restart-third.jpg && "
                "cjpeg -progressive main.ppm > progressive-main.jpg && "
                "cp magick-other.jpg progressive-other.jpg && "
                "cp magick-third.jpg progressive-third.jpg && touch made");
            std::error_code ignored;
            if (made)
                fs::rename(work, folder, ignored);
            fs::remove_all(work, ignored);
        }
        for (const char* kind : {"magick", "restart", "progressive"}) {
            const std::string prefix = (folder / kind).string();
            photos_.push_back({kind, test::ReadFile(prefix + "-main.jpg"),
                               test::ReadFile(prefix + "-other.jpg"),
                               test::ReadFile(prefix + "-third.jpg")});
        }
    }

    void SetUp() override {
        for (const Photo& photo : photos_) {
            if (GetParam() == std::string(photo.kind) && !photo.main.empty()) {
                photo_ = &photo;
                return;
            }
        }
        GTEST_SKIP() << "convert or cjpeg missing";
    }

    static std::vector<Photo> photos_;
    const Photo* photo_ = nullptr;
};

std::vector<Photo> Reassembly::photos_;

std::span<const std::uint8_t> Span(const std::string& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

// The decoder the search tries candidates with: a whole photo ends exactly at its end
// marker whether fed at once or in pieces; one MCU short or long, it is refused. A
// progressive photo is left to libjpeg.
TEST_P(Reassembly, TheScanDecoderEndsExactlyAtTheLastMcu) {
    const std::string& main = photo_->main;
    const auto opened = ScanDecoder::Open(Span(main));
    if (GetParam() == std::string("progressive")) {
        EXPECT_FALSE(opened);
        return;
    }
    ASSERT_TRUE(opened);
    const std::uint64_t start = opened->DataStart();
    ScanDecoder once = *opened;
    const auto whole = once.Feed(Span(main).subspan(start));
    ASSERT_EQ(whole.outcome, ScanDecoder::Outcome::Ended);
    EXPECT_EQ(start + whole.used, main.size());
    EXPECT_EQ(once.McusDone(), once.McusInFrame());

    ScanDecoder inPieces = *opened;
    std::string pending;
    std::uint64_t used = 0;
    ScanDecoder::Result last;
    for (std::uint64_t at = start; at < main.size(); at += 777) {
        pending += main.substr(at, 777);
        last = inPieces.Feed(Span(pending));
        if (last.outcome != ScanDecoder::Outcome::NeedMore)
            break;
        used += last.used;
        pending.erase(0, last.used);
    }
    EXPECT_EQ(last.outcome, ScanDecoder::Outcome::Ended);
    EXPECT_EQ(start + used + last.used, main.size());

    // Data missing from the middle: the end marker comes too early.
    std::string shorter = main;
    shorter.erase(main.size() / 2, 4096);
    ScanDecoder cut = *opened;
    EXPECT_EQ(cut.Feed(Span(shorter).subspan(start)).outcome, ScanDecoder::Outcome::Invalid);
}

TEST_P(Reassembly, TwoPiecesAroundOtherPhotosJoinByteExact) {
    // The first piece fills a gap before another photo; the rest follows a third one.
    const std::string& main = photo_->main;
    const std::uint64_t firstClusters = Clusters(main.size()) / 3;
    Card card(Clusters(main.size()) + 400);
    card.Place(0, photo_->other, true);
    const std::uint64_t first = 40;
    card.Place(first, main.substr(0, firstClusters * kCluster));
    const std::uint64_t afterOther = card.Place(first + firstClusters, photo_->other, true);
    const std::uint64_t second = card.Place(afterOther, photo_->third, true);
    card.Place(second, main.substr(firstClusters * kCluster));

    const auto pieces = card.Search(first, firstClusters * kCluster);
    ASSERT_TRUE(pieces);
    EXPECT_EQ(pieces->firstPieceSize, firstClusters * kCluster);
    EXPECT_EQ(pieces->secondPieceStart, second * kCluster);
    EXPECT_EQ(card.Joined(first * kCluster, *pieces), main);
}

TEST_P(Reassembly, ClustersOfNoiseOrZerosBetweenThePiecesAreSkipped) {
    if (GetParam() == std::string("progressive"))
        GTEST_SKIP() << "progressive files are rejoined only where the first piece ends at "
                        "another file";
    const std::string& main = photo_->main;
    const std::uint64_t firstClusters = Clusters(main.size()) / 2;
    for (const bool zeros : {false, true}) {
        Card card(Clusters(main.size()) + 200);
        card.Place(10, main.substr(0, firstClusters * kCluster));
        // Unowned bytes that no carving claimed: the decode breaks in them.
        const std::uint64_t gap = 10 + firstClusters;
        if (zeros)
            card.Zero(gap, 7);
        const std::uint64_t second = gap + 7;
        card.Place(second, main.substr(firstClusters * kCluster));
        const auto pieces = card.Search(10, card.Size() - 10 * kCluster);
        ASSERT_TRUE(pieces) << (zeros ? "zeros" : "noise");
        EXPECT_EQ(card.Joined(10 * kCluster, *pieces), main) << (zeros ? "zeros" : "noise");
    }
}

TEST_P(Reassembly, ThreePiecesAreNeverJoinedWrongly) {
    const std::string& main = photo_->main;
    const std::uint64_t clusters = Clusters(main.size());
    const std::uint64_t piece = clusters / 3;
    Card card(clusters + 400);
    card.Place(10, main.substr(0, piece * kCluster));
    std::uint64_t at = card.Place(10 + piece, photo_->other, true);
    at = card.Place(at, main.substr(piece * kCluster, piece * kCluster));
    at = card.Place(at, photo_->third, true);
    card.Place(at, main.substr(2 * piece * kCluster));
    EXPECT_FALSE(card.Search(10, piece * kCluster));
}

TEST_P(Reassembly, WholeOrHopelessPhotosCostLittle) {
    const std::string& main = photo_->main;
    Card card(Clusters(main.size()) + 600);
    card.Place(10, main);
    // A whole photo: nothing to search.
    EXPECT_FALSE(card.Search(10, Clusters(main.size()) * kCluster));
    EXPECT_LE(card.bytesRead, 2 * main.size());

    // Its rest is gone: the search reads no more than its bound of unowned clusters.
    const std::uint64_t firstClusters = Clusters(main.size()) / 2;
    card.Place(10 + firstClusters, photo_->other, true);
    PieceSearchBounds bounds;
    bounds.maxScannedBytes = 256 * 1024;
    EXPECT_FALSE(card.Search(10, firstClusters * kCluster, bounds));
    EXPECT_LE(card.bytesRead, 16 * main.size());
}

TEST_P(Reassembly, TheSearchStopsAtItsBound) {
    if (GetParam() == std::string("progressive"))
        GTEST_SKIP() << "progressive files are rejoined only where the first piece ends at "
                        "another file";
    // The rest lies beyond more unowned clusters than the search may read.
    const std::string& main = photo_->main;
    const std::uint64_t firstClusters = Clusters(main.size()) / 2;
    Card card(Clusters(main.size()) + 700);
    card.Place(10, main.substr(0, firstClusters * kCluster));
    const std::uint64_t afterOther = card.Place(10 + firstClusters, photo_->other, true);
    card.Place(afterOther + 600, main.substr(firstClusters * kCluster));
    PieceSearchBounds bounds;
    bounds.maxScannedBytes = 100 * kCluster;
    EXPECT_FALSE(card.Search(10, firstClusters * kCluster, bounds));
    const auto found = card.Search(10, firstClusters * kCluster);
    ASSERT_TRUE(found);
    EXPECT_EQ(card.Joined(10 * kCluster, *found), main);
}

INSTANTIATE_TEST_SUITE_P(Photos, Reassembly, ::testing::Values("magick", "restart", "progressive"),
                         [](const auto& param) { return std::string(param.param); });

}  // namespace
}  // namespace duzez::signatures
