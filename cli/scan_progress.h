#pragma once

// Progress a person can plan by, on one line of stderr redrawn in place. Only on a
// terminal: a pipe or a file gets none of it, so scripts read stdout and stderr unmixed.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/terminal_width.h"

namespace duzez::filesystems {
class FoundObjectTree;
}
namespace duzez::devices {
class CVolume;
}

namespace duzez::cli {

// "elapsed 01:02, left 01:45"; "left" only once it can be told.
std::string TimeText(double elapsed, std::optional<double> left);

// The first of `candidates` (richest first) that fits in `columns`, else the last one cut.
std::string FirstThatFits(const std::vector<std::string>& candidates, std::size_t columns);

// One line of stderr, redrawn in place; does nothing when stderr is no terminal.
class ProgressLine {
  public:
    ProgressLine();
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    bool Shown() const { return terminal_; }
    // The widest line that can be drawn without the terminal wrapping it.
    std::size_t Room() const;
    // Replaces the line with `text`, cut to the room there is.
    void Draw(const std::string& text);
    // Leaves `text` as the line's last state and moves to the next line.
    void End(const std::string& text);
    // Wipes the line, so that what is printed next starts on a clean line.
    void Clear();

  private:
    bool terminal_ = false;
    bool drawn_ = false;
};

// What the scan has found so far, counted from the volume's tree. Reads only what was
// listed since the last count, and reads the list at most as often as that costs the scan
// little.
class FoundTally {
  public:
    explicit FoundTally(const filesystems::FoundObjectTree& tree);
    // Counts what was listed since the last call, when that is due or `force`d.
    void Update(std::chrono::steady_clock::time_point now, bool force = false);
    std::uint64_t Files() const { return files_; }
    // "412 jpg, 37 png, 3 pdf": most first, the rest summed as "other" beyond `most` types.
    std::string ByType(std::size_t most) const;

  private:
    // The format's extension, else the one the name gave.
    std::string TypeOf(std::int32_t signatureId, std::string_view extension);

    const filesystems::FoundObjectTree& tree_;
    std::size_t seen_ = 0;         // listed objects counted (or there before the scan)
    std::size_t objectCount_ = 0;  // the tree's count at the last read, to skip idle reads
    std::chrono::steady_clock::time_point due_{};
    std::uint64_t files_ = 0;
    std::map<std::string, std::uint64_t> byType_;
    std::map<std::int32_t, std::string> extensions_;
};

// Watches the sector phase of `volume` running on another thread: "scanning 37%  21.4
// MB/s  elapsed 00:42, left 01:10  452 files found (412 jpg, 37 png, 3 pdf)".
class ScanProgress {
  public:
    explicit ScanProgress(devices::CVolume& volume);
    // Redraws the line, at most four times a second, until `running` falls.
    void Follow(const std::atomic<bool>& running);
    // The line's last state, kept as a record of the scan.
    void Finish();

  private:
    void Draw(std::chrono::steady_clock::time_point now, bool last);

    devices::CVolume& volume_;
    ProgressLine line_;
    std::chrono::steady_clock::time_point start_;
    std::optional<FoundTally> tally_;  // none for a search for volumes only
};

}  // namespace duzez::cli
