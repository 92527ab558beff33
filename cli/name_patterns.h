#pragma once

// The --match patterns of list and recover: a file is taken when any pattern matches,
// case ignored. A pattern holding a '/' is matched against the whole path ('DCIM/*.jpg'
// and '/DCIM/100CANON/*' both work), any other against the name alone.

#include <CLI/CLI.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace duzez::cli {

// Adds --match to `command`: each use takes one pattern, and it may be given many times.
void AddMatchOption(CLI::App& command, std::vector<std::string>& patterns);

class NamePatterns {
  public:
    NamePatterns() = default;
    explicit NamePatterns(std::vector<std::string> patterns) : patterns_(std::move(patterns)) {}

    bool Empty() const { return patterns_.empty(); }
    // `path` is the file's path from its volume's root, with a leading '/'.
    bool Matches(std::string_view name, std::string_view path) const;

  private:
    std::vector<std::string> patterns_;
};

}  // namespace duzez::cli
