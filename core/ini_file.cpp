#include "core/ini_file.h"

#include "platform/text_encoding.h"

namespace duzez::core {
namespace {

std::string_view Trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = platform::AsciiLower(c);
    return out;
}

}  // namespace

IniFile IniFile::Parse(std::string_view text) {
    IniFile ini;
    Section* current = nullptr;
    bool currentIsDuplicate = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            const std::size_t close = line.find(']');
            const std::string name = Lower(Trim(line.substr(
                1, close == std::string_view::npos ? std::string_view::npos : close - 1)));
            currentIsDuplicate = ini.sections_.count(name) != 0;
            current = &ini.sections_[name];
            continue;
        }
        const std::size_t equals = line.find('=');
        if (current == nullptr || currentIsDuplicate || equals == std::string_view::npos)
            continue;
        std::string_view value = Trim(line.substr(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        current->try_emplace(Lower(Trim(line.substr(0, equals))), value);
    }
    return ini;
}

std::optional<std::string_view> IniFile::Value(std::string_view section,
                                               std::string_view key) const {
    const auto s = sections_.find(Lower(section));
    if (s == sections_.end())
        return std::nullopt;
    const auto k = s->second.find(Lower(key));
    if (k == s->second.end())
        return std::nullopt;
    return std::string_view(k->second);
}

bool IniFile::HasSection(std::string_view section) const {
    return sections_.count(Lower(section)) != 0;
}

}  // namespace duzez::core
