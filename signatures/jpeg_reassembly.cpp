#include "signatures/jpeg_reassembly.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

#include "signatures/file_bytes.h"
#include "signatures/jpeg_end.h"
#include "signatures/jpeg_scan_decoder.h"
#include "signatures/photo_verdict.h"
#include "signatures/signature.h"

namespace duzez::signatures {
namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kSector = 512;
// The first look at a carved photo; a photo that breaks within it is never read further.
constexpr std::uint64_t kFirstLook = 256 * 1024;
// A candidate is decoded at least this far past the joint before it is joined.
constexpr std::uint64_t kTrialBytes = 32 * 1024;
constexpr std::size_t kMaxCandidates = 16384;
// What a candidate is followed through first: most wrong ones fail within it.
constexpr std::uint64_t kFirstStretch = 16 * 1024;
constexpr std::uint64_t kStretch = 256 * 1024;
// What a candidate is scored on: up to one row of MCUs, within this many bytes.
constexpr std::uint64_t kScoredMcus = 48;
constexpr std::uint64_t kScoredBytes = 24 * 1024;
// A candidate whose rows go on from the rows above it as smoothly as the first piece's own
// rows do is followed at once, before the rest are scored.
constexpr double kSmoothAsAbove = 1.5;
constexpr int kNoRestart = -1;

// Bytes [offset, offset + size) of the volume; empty when they cannot be read.
Bytes ReadVolume(const SectorReader& read, std::uint64_t offset, std::uint64_t size) {
    if (size == 0 || offset % kSector != 0)
        return {};
    const std::uint64_t sectors = (size + kSector - 1) / kSector;
    Bytes bytes(static_cast<std::size_t>(sectors * kSector));
    if (read(bytes, offset / kSector, sectors) == 0)
        return {};
    bytes.resize(static_cast<std::size_t>(size));
    return bytes;
}

// Where the first scan's entropy-coded data begins: past the segments before its SOS.
std::optional<std::uint64_t> ScanDataStart(const Bytes& file) {
    if (file.size() < 4 || file[0] != 0xFF || file[1] != 0xD8)
        return std::nullopt;
    std::uint64_t at = 2;
    while (at + 4 <= file.size()) {
        if (file[at] != 0xFF)
            return std::nullopt;
        const std::uint8_t marker = file[at + 1];
        if (marker == 0xFF) {
            ++at;  // fill byte
            continue;
        }
        const std::uint64_t length = (std::uint64_t{file[at + 2]} << 8) | file[at + 3];
        if (length < 2)
            return std::nullopt;
        at += 2 + length;
        if (marker == 0xDA)
            return at <= file.size() ? std::optional(at) : std::nullopt;
    }
    return std::nullopt;
}

// The restart marker the data after `joint` must show first: the one after the last that
// `file` holds between `from` and the joint.
int ExpectedRestart(const Bytes& file, std::uint64_t from, std::uint64_t joint) {
    for (std::uint64_t at = joint; at >= from + 2; --at) {
        const std::uint8_t marker = file[at - 1];
        if (file[at - 2] == 0xFF && marker >= 0xD0 && marker <= 0xD7)
            return (marker - 0xD0 + 1) & 7;
    }
    return kNoRestart;
}

// Whether `cluster` can be the middle of a JPEG's entropy-coded data: only stuffed bytes,
// restart markers in order (from `restart` on, when known; left at the one due next) and
// perhaps the end marker; and not the long runs of one byte that empty or text clusters hold.
bool LooksLikeScanData(std::span<const std::uint8_t> cluster, int& restart) {
    // Empty space, the commonest by far, is told at a glance.
    std::size_t repeats = 0;
    for (std::size_t i = 1; i < std::min<std::size_t>(cluster.size(), 64); ++i)
        repeats += cluster[i] == cluster[i - 1] ? 1 : 0;
    if (repeats > 32)
        return false;
    std::array<std::uint32_t, 256> counts{};
    for (std::size_t i = 0; i < cluster.size(); ++i) {
        const std::uint8_t b = cluster[i];
        ++counts[b];
        if (b != 0xFF || i + 1 == cluster.size())
            continue;
        const std::uint8_t next = cluster[i + 1];
        if (next == 0xD9)
            break;  // the end: what follows is no longer this scan
        if (next >= 0xD0 && next <= 0xD7) {
            const int number = next - 0xD0;
            if (restart != kNoRestart && number != restart)
                return false;
            restart = (number + 1) & 7;
        } else if (next != 0x00 && next != 0xFF) {
            return false;
        }
        ++i;
        ++counts[next];
    }
    const std::uint32_t most = *std::max_element(counts.begin(), counts.end());
    return most <= cluster.size() / 8;
}

// The first whole cluster of the scan data that cannot be scan data: where a piece that
// decodes without complaint (zeros do) still ends.
std::optional<std::uint64_t> FirstForeignCluster(const Bytes& file, std::uint64_t scanStart,
                                                 std::uint64_t cluster) {
    std::uint64_t at = (scanStart + cluster - 1) / cluster * cluster;
    int restart = ExpectedRestart(file, scanStart, std::min<std::uint64_t>(at, file.size()));
    for (; at + cluster <= file.size(); at += cluster) {
        if (!LooksLikeScanData(std::span(file).subspan(at, cluster), restart))
            return at;
    }
    return std::nullopt;
}

// Where the decode of the photo as it lies breaks, reading no more of it than needed.
struct Break {
    Bytes file;  // the photo as carved, as far as it was read
    VerdictDetail detail;
};

std::optional<Break> FindBreak(const PieceSearch& search, const SectorReader& read,
                               const PieceSearchBounds& bounds) {
    const std::uint64_t carved = std::min(search.carvedSize, bounds.maxPhotoBytes);
    Break found;
    for (std::uint64_t look = std::min(carved, kFirstLook);; look = std::min(carved, look * 4)) {
        // Each look reads on from where the last stopped (a whole number of sectors).
        const std::uint64_t have = found.file.size();
        const Bytes more = ReadVolume(read, search.start + have, look - have);
        if (more.empty())
            return std::nullopt;
        found.file.insert(found.file.end(), more.begin(), more.end());
        found.detail = JudgePhoto(FormatIds::Jpeg, found.file);
        const bool ranOut = found.detail.verdict == PhotoVerdict::Truncated &&
                            found.detail.goodBytes >= found.file.size();
        if (!ranOut || look == carved)
            return found;
    }
}

// A virtual file: `joint` bytes from `start`, then the volume from `second` on.
SectorReader JoinedReader(const SectorReader& read, std::uint64_t start, std::uint64_t joint,
                          std::uint64_t second) {
    return [&read, start, joint, second](std::span<std::uint8_t> buffer, std::uint64_t sector,
                                         std::uint64_t count) -> std::uint32_t {
        const std::uint64_t jointSector = joint / kSector;
        const std::uint64_t before =
            sector < jointSector ? std::min(count, jointSector - sector) : 0;
        if (before != 0 && read(buffer, start / kSector + sector, before) == 0)
            return 0;
        if (before != count &&
            read(buffer.subspan(static_cast<std::size_t>(before * kSector)),
                 second / kSector + sector + before - jointSector, count - before) == 0) {
            return 0;
        }
        return static_cast<std::uint32_t>(count * kSector);
    };
}

struct Candidate {
    std::uint64_t at;  // byte of the volume
    bool firstOfRun;   // the first scan-like cluster after one that is not
};

class Search {
  public:
    Search(const PieceSearch& search, const SectorReader& read, const PieceSearchBounds& bounds)
        : search_(search), read_(read), bounds_(bounds), deadline_(Clock::now() + bounds.budget) {}

    std::optional<TwoPieces> Run() {
        if (search_.clusterBytes < kSector || search_.clusterBytes % kSector != 0 ||
            search_.start % kSector != 0 || search_.start >= search_.volumeSize) {
            return std::nullopt;
        }
        auto broken = FindBreak(search_, read_, bounds_);
        if (!broken || broken->detail.goodRows == 0 ||
            (broken->detail.verdict != PhotoVerdict::Damaged &&
             broken->detail.verdict != PhotoVerdict::Truncated)) {
            return std::nullopt;
        }
        const auto scanStart = ScanDataStart(broken->file);
        if (!scanStart)
            return std::nullopt;
        file_ = std::move(broken->file);
        following_ = ScanDecoder::Open(file_);
        for (const std::uint64_t joint :
             Joints(broken->detail.goodBytes, *scanStart,
                    // Several scans have markers between them: only one is read so.
                    following_ ? FirstForeignCluster(file_, *scanStart, search_.clusterBytes)
                               : std::nullopt)) {
            if (auto pieces = TryJoint(joint, *scanStart))
                return pieces;
            if (trials_ >= bounds_.maxTrials || joins_ >= bounds_.maxJoins ||
                followed_ >= bounds_.maxFollowedBytes || Late())
                break;
        }
        return std::nullopt;
    }

  private:
    bool Late() const { return Clock::now() > deadline_; }

    // Cluster boundaries where the first piece may end: the first cluster that is no scan
    // data, then those around the break the decoder saw (it notices bad data a little after
    // it starts, and reports where it is a little behind where it read).
    std::vector<std::uint64_t> Joints(std::uint64_t breakAt, std::uint64_t scanStart,
                                      std::optional<std::uint64_t> foreign) const {
        const std::uint64_t cluster = search_.clusterBytes;
        const std::uint64_t below = breakAt / cluster * cluster;
        std::vector<std::uint64_t> joints;
        const auto add = [&](std::uint64_t joint) {
            if (joint > scanStart && joint <= file_.size() &&
                std::find(joints.begin(), joints.end(), joint) == joints.end()) {
                joints.push_back(joint);
            }
        };
        if (foreign && *foreign <= below + cluster)
            add(*foreign);
        for (const std::uint64_t joint : {below, below + cluster, below - std::min(below, cluster),
                                          below - std::min(below, 2 * cluster)}) {
            add(joint);
        }
        return joints;
    }

    std::optional<TwoPieces> TryJoint(std::uint64_t joint, std::uint64_t scanStart) {
        return following_ ? FollowJoint(joint, scanStart) : DecodeJoint(joint, scanStart);
    }

    std::vector<Candidate> OrderedCandidates(std::uint64_t joint, std::uint64_t scanStart) {
        std::vector<Candidate> candidates =
            Candidates(search_.start + joint, ExpectedRestart(file_, scanStart, joint));
        // A continuation most often starts where other files' clusters end.
        std::stable_partition(candidates.begin(), candidates.end(),
                              [](const Candidate& c) { return c.firstOfRun; });
        return candidates;
    }

    // A baseline JPEG. Each candidate is decoded for up to a row of MCUs past the joint,
    // and scored by how far the DC values of those MCUs jump from the ones above them;
    // only the smoothest are followed to the end marker, which must come exactly after the
    // frame's last MCU.
    std::optional<TwoPieces> FollowJoint(std::uint64_t joint, std::uint64_t scanStart) {
        ScanDecoder atJoint = *following_;
        const std::uint64_t dataStart = atJoint.DataStart();
        if (joint <= dataStart)
            return std::nullopt;
        std::vector<std::int16_t> above;
        atJoint.TrackDc(&above);
        const auto first = atJoint.Feed(std::span(file_).subspan(dataStart, joint - dataStart));
        atJoint.TrackDc(nullptr);
        if (first.outcome != ScanDecoder::Outcome::NeedMore)
            return std::nullopt;  // broken before the joint, or ended in the first piece
        const Bytes tail(file_.begin() + static_cast<std::ptrdiff_t>(dataStart + first.used),
                         file_.begin() + static_cast<std::ptrdiff_t>(joint));

        struct Scored {
            std::uint64_t at;
            double jump;
        };
        std::vector<Scored> scored;
        const double smooth = kSmoothAsAbove * OwnJump(above, atJoint.McusPerRow()) + 1;
        std::uint64_t followedAtOnce = ~std::uint64_t{0};
        for (const Candidate& candidate : OrderedCandidates(joint, scanStart)) {
            if (followed_ >= bounds_.maxFollowedBytes || Late())
                break;
            const auto jump = Jump(atJoint, tail, candidate.at, above);
            if (!jump)
                continue;
            if (*jump <= smooth && followedAtOnce == ~std::uint64_t{0}) {
                followedAtOnce = candidate.at;
                if (FollowsToEnd(atJoint, tail, candidate.at, joint)) {
                    if (auto pieces = Join(joint, candidate.at))
                        return pieces;
                }
                continue;
            }
            scored.push_back({candidate.at, *jump});
        }
        std::stable_sort(scored.begin(), scored.end(),
                         [](const Scored& a, const Scored& b) { return a.jump < b.jump; });
        unsigned follows = 0;
        for (const Scored& candidate : scored) {
            if (follows++ == bounds_.maxFollows || joins_ >= bounds_.maxJoins ||
                followed_ >= bounds_.maxFollowedBytes || Late()) {
                return std::nullopt;
            }
            if (!FollowsToEnd(atJoint, tail, candidate.at, joint))
                continue;
            if (auto pieces = Join(joint, candidate.at))
                return pieces;
        }
        return std::nullopt;
    }

    // The mean change of DC value from the MCU above over the first piece's last row.
    static double OwnJump(const std::vector<std::int16_t>& dc, std::uint64_t row) {
        if (row == 0 || dc.size() <= row)
            return 0;
        double total = 0;
        std::size_t compared = 0;
        for (std::size_t m =
                 std::max<std::size_t>(row, dc.size() - std::min<std::size_t>(row, 256));
             m < dc.size(); ++m, ++compared) {
            total += std::abs(dc[m] - dc[m - row]);
        }
        return compared == 0 ? 0 : total / static_cast<double>(compared);
    }

    // The mean change of DC value between each MCU decoded from `second` on and the MCU
    // above it; nullopt when the data is no continuation at all.
    std::optional<double> Jump(ScanDecoder decoder, const Bytes& tail, std::uint64_t second,
                               const std::vector<std::int16_t>& above) {
        const std::uint64_t size = std::min(kScoredBytes, search_.volumeSize - second);
        const Bytes more = ReadVolume(read_, second, size);
        if (more.empty())
            return std::nullopt;
        followed_ += size;
        Bytes data = tail;
        data.insert(data.end(), more.begin(), more.end());
        std::vector<std::int16_t> below;
        decoder.TrackDc(&below);
        const std::uint64_t from = decoder.McusDone();
        const std::uint64_t row = decoder.McusPerRow();
        const auto result = decoder.Feed(data, from + std::min<std::uint64_t>(row, kScoredMcus));
        if (result.outcome == ScanDecoder::Outcome::Invalid)
            return std::nullopt;
        double total = 0;
        std::size_t compared = 0;
        for (std::size_t i = 0; i < below.size(); ++i) {
            const std::uint64_t mcu = from + i;
            if (mcu >= row && mcu - row < above.size()) {
                total += std::abs(below[i] - above[static_cast<std::size_t>(mcu - row)]);
                ++compared;
            }
        }
        // Nothing to compare with (a joint in the first row): tried after the rest.
        return compared == 0 ? 1e12 : total / static_cast<double>(compared);
    }

    bool FollowsToEnd(ScanDecoder decoder, const Bytes& tail, std::uint64_t second,
                      std::uint64_t joint) {
        const std::uint64_t limit =
            std::min(search_.volumeSize,
                     second + (bounds_.maxPhotoBytes - std::min(joint, bounds_.maxPhotoBytes)));
        Bytes pending = tail;
        std::uint64_t stretch = kFirstStretch;
        for (std::uint64_t at = second; at < limit && followed_ < bounds_.maxFollowedBytes;) {
            const std::uint64_t size = std::min(stretch, limit - at);
            const Bytes more = ReadVolume(read_, at, size);
            if (more.empty())
                return false;
            at += size;
            followed_ += size;
            stretch = kStretch;
            pending.insert(pending.end(), more.begin(), more.end());
            const auto result = decoder.Feed(pending);
            if (result.outcome != ScanDecoder::Outcome::NeedMore)
                return result.outcome == ScanDecoder::Outcome::Ended;
            pending.erase(pending.begin(),
                          pending.begin() + static_cast<std::ptrdiff_t>(result.used));
        }
        return false;
    }

    // Any other JPEG: libjpeg decodes the first piece and a stretch of each candidate.
    std::optional<TwoPieces> DecodeJoint(std::uint64_t joint, std::uint64_t scanStart) {
        const Bytes prefix(file_.begin(), file_.begin() + static_cast<std::ptrdiff_t>(joint));
        // The first piece alone must decode up to its cut: a joint past the damage is wrong.
        const VerdictDetail alone = JudgePhoto(FormatIds::Jpeg, prefix);
        if (alone.verdict != PhotoVerdict::Truncated || alone.goodBytes < prefix.size())
            return std::nullopt;
        for (const Candidate& candidate : OrderedCandidates(joint, scanStart)) {
            if (trials_ >= bounds_.maxTrials || joins_ >= bounds_.maxJoins || Late())
                return std::nullopt;
            ++trials_;
            if (!DecodesPastJoint(prefix, candidate.at))
                continue;
            if (auto pieces = Join(joint, candidate.at))
                return pieces;
        }
        return std::nullopt;
    }

    // Scan-like clusters after the joint that belong to no other found file.
    std::vector<Candidate> Candidates(std::uint64_t after, int restart) {
        const std::uint64_t cluster = search_.clusterBytes;
        std::vector<Candidate> candidates;
        bool previousFits = false;
        Bytes window;
        std::uint64_t windowStart = 0;
        for (std::uint64_t at = after + cluster; at + cluster <= search_.volumeSize &&
                                                 candidates.size() < kMaxCandidates &&
                                                 scanned_ < bounds_.maxScannedBytes;) {
            if (search_.skipOwned) {
                const std::uint64_t free = search_.skipOwned(at);
                if (free > at) {
                    // On to the first cluster boundary at or past that file's end.
                    const std::uint64_t steps = (free - at + cluster - 1) / cluster;
                    at += steps * cluster;
                    previousFits = false;
                    continue;
                }
            }
            if (at < windowStart || at + cluster > windowStart + window.size()) {
                windowStart = at;
                const std::uint64_t size =
                    std::min<std::uint64_t>(search_.volumeSize - at, 64 * cluster);
                window = ReadVolume(read_, at, size / cluster * cluster);
                if (window.empty())
                    break;
            }
            scanned_ += cluster;
            const std::span<const std::uint8_t> bytes(window.data() + (at - windowStart),
                                                      static_cast<std::size_t>(cluster));
            int due = restart;
            const bool fits = LooksLikeScanData(bytes, due);
            if (fits)
                candidates.push_back({at, !previousFits});
            previousFits = fits;
            at += cluster;
        }
        return candidates;
    }

    // The joined data decodes on past the joint, through a stretch long enough that wrong
    // data would show. (Rows say little here: each scan of a progressive file counts its
    // own.)
    bool DecodesPastJoint(const Bytes& prefix, std::uint64_t second) {
        const std::uint64_t stretch = std::min<std::uint64_t>(
            std::max<std::uint64_t>(kTrialBytes, 4ull * search_.clusterBytes),
            search_.volumeSize - second);
        const Bytes more = ReadVolume(read_, second, stretch / kSector * kSector);
        if (more.empty())
            return false;
        Bytes trial = prefix;
        trial.insert(trial.end(), more.begin(), more.end());
        const VerdictDetail detail = JudgePhoto(FormatIds::Jpeg, trial);
        if (detail.verdict == PhotoVerdict::Intact)
            return true;
        return detail.verdict == PhotoVerdict::Truncated && detail.goodBytes >= trial.size();
    }

    // The joined file to its end marker (and what its MPF index declares after it), taken
    // only when it decodes whole.
    std::optional<TwoPieces> Join(std::uint64_t joint, std::uint64_t second) {
        ++joins_;
        const std::uint64_t limit =
            std::min(bounds_.maxPhotoBytes, joint + (search_.volumeSize - second));
        const SectorReader joined = JoinedReader(read_, search_.start, joint, second);
        FileBytes bytes(0, limit, joined);
        const auto end = JpegEnd(bytes);
        if (!end || *end <= joint || *end > limit)
            return std::nullopt;
        Bytes whole(file_.begin(), file_.begin() + static_cast<std::ptrdiff_t>(joint));
        const Bytes rest = ReadVolume(read_, second, *end - joint);
        if (rest.empty())
            return std::nullopt;
        whole.insert(whole.end(), rest.begin(), rest.end());
        if (JudgePhoto(FormatIds::Jpeg, whole).verdict != PhotoVerdict::Intact)
            return std::nullopt;
        return TwoPieces{joint, second, *end};
    }

    const PieceSearch& search_;
    const SectorReader& read_;
    const PieceSearchBounds& bounds_;
    const Clock::time_point deadline_;
    Bytes file_;
    std::optional<ScanDecoder> following_;
    std::uint64_t followed_ = 0;
    unsigned trials_ = 0;
    unsigned joins_ = 0;
    std::uint64_t scanned_ = 0;
};

}  // namespace

std::optional<TwoPieces> FindSecondPiece(const PieceSearch& search, const SectorReader& read,
                                         const PieceSearchBounds& bounds) {
    return Search(search, read, bounds).Run();
}

}  // namespace duzez::signatures
