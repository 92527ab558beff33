#pragma once

// INI text as a profile reader sees it: sections in brackets, "key=value" lines, ';'
// comments. Section and key names compare case-insensitively; the first occurrence of a
// section or key wins; values lose surrounding blanks and one pair of matching quotes.

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace duzez::core {

class IniFile {
  public:
    static IniFile Parse(std::string_view text);

    std::optional<std::string_view> Value(std::string_view section, std::string_view key) const;
    bool HasSection(std::string_view section) const;
    std::size_t SectionCount() const { return sections_.size(); }

  private:
    using Section = std::map<std::string, std::string>;  // lower-cased key -> value
    std::map<std::string, Section> sections_;            // lower-cased name -> keys
};

}  // namespace duzez::core
