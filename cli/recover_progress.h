#pragma once

// The progress of one recovery run on stderr, for a terminal only: the whole run's share
// done, its files and bytes, the time it took and is likely to take, and the file being
// written.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/scan_progress.h"
#include "recovery/recovery.h"

namespace duzez::cli {

// The figures of a run at one moment.
struct RecoverFigures {
    std::size_t index = 0;  // the file being written, from 0
    std::size_t files = 0;  // in the run
    double fileShare = 0;   // of the file being written, 0 to 1
    std::uint64_t bytesDone = 0;
    std::optional<std::uint64_t> bytesTotal;  // none when a size is not known
    double elapsed = 0;
    std::string name;  // of the file being written, as the volume gives it
};

// "37%  412 of 1,103 files  1.2 GB of 3.3 GB  elapsed 01:02, left 01:45  IMG_0412.JPG",
// fitted to `columns`: the name is cut first, then the figures least needed left out.
std::string RecoverProgressText(const RecoverFigures& figures, std::size_t columns);

class RecoverProgress {
  public:
    // Takes the sizes of the engine's list: made before the run starts, while the list
    // is this thread's alone.
    explicit RecoverProgress(const recovery::CRecovery& engine);
    // Redraws the line, at most four times a second, until the run ends; then wipes it.
    void Follow();

  private:
    const recovery::CRecovery& engine_;
    ProgressLine line_;
    std::vector<std::uint64_t> before_;  // known bytes of the files before each one
    std::vector<std::uint64_t> sizes_;   // 0 where unknown
    bool sizesKnown_ = true;
};

}  // namespace duzez::cli
