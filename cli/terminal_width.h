#pragma once

// How wide text is on a terminal, and how wide the terminal is: for tables and progress
// lines that must not wrap.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace duzez::cli {

// The columns of the terminal on `fd` (its window size, else $COLUMNS, else 80); none when
// `fd` is no terminal.
std::optional<std::size_t> TerminalColumns(int fd);

// How many columns `text` (UTF-8) takes: East Asian wide characters two, combining marks
// none, any byte that is no UTF-8 one.
std::size_t ColumnsOf(std::string_view text);
// `text` cut at a character to at most `columns` columns, ending in "..." when cut.
std::string FitColumns(std::string_view text, std::size_t columns);
// `text` cut in the middle with "…" to at most `columns` columns: both ends of a path
// stay, and the end, which names the file, keeps the larger half.
std::string ShortenMiddle(std::string_view text, std::size_t columns);

}  // namespace duzez::cli
