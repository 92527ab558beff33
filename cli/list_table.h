#pragma once

// The listing as `ls -l` shows it: a header, one row per object with its path last, and
// columns that fit the terminal.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace duzez::cli {

struct ListRow {
    std::string path;  // as the disk names it; made safe for the terminal when printed
    std::optional<std::uint64_t> size;  // none while a carved file's end is unknown
    std::uint64_t modified = 0;         // FILETIME; 0 for none
    bool utcTimes = false;
    std::string state;  // "live", "deleted", "overwritten", "signature only"
    std::string check;  // the photo's verdict and pieces; empty when not judged
    std::uint64_t start = 0;
    bool folder = false;
};

struct TableStyle {
    // The terminal's width; none when the output goes to a file or a pipe, which gets whole
    // paths however long.
    std::optional<std::size_t> columns;
    bool bytes = false;  // exact sizes in bytes rather than kB, MB, GB
};

// The table, header first, every line ended.
std::string FormatTable(const std::vector<ListRow>& rows, const TableStyle& style);

}  // namespace duzez::cli
