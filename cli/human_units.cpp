#include "cli/human_units.h"

#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace duzez::cli {

std::string HumanSize(std::uint64_t bytes) {
    static constexpr std::array<const char*, 6> kUnits = {"kB", "MB", "GB", "TB", "PB", "EB"};
    if (bytes < 1000)
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    double value = static_cast<double>(bytes) / 1000.0;
    std::size_t unit = 0;
    // 999.96 kB would print as "1000 kB": move up before rounding does.
    while (value >= 999.5 && unit + 1 < kUnits.size()) {
        value /= 1000.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, value < 99.95 ? "%.1f %s" : "%.0f %s", value, kUnits[unit]);
    return text;
}

std::string GroupedDigits(std::uint64_t value) {
    std::string digits = std::to_string(value);
    for (std::size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, ",");
    return digits;
}

namespace {

std::string Lower(std::string_view text) {
    std::string lower;
    for (char c : text) {
        if (c != ' ')
            lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

std::optional<double> UnitFactor(const std::string& unit) {
    static const std::pair<const char*, double> kUnits[] = {{"", 1},
                                                            {"b", 1},
                                                            {"byte", 1},
                                                            {"bytes", 1},
                                                            {"k", 1e3},
                                                            {"kb", 1e3},
                                                            {"m", 1e6},
                                                            {"mb", 1e6},
                                                            {"g", 1e9},
                                                            {"gb", 1e9},
                                                            {"t", 1e12},
                                                            {"tb", 1e12},
                                                            {"kib", 1024.0},
                                                            {"mib", 1048576.0},
                                                            {"gib", 1073741824.0},
                                                            {"tib", 1099511627776.0}};
    for (const auto& [name, factor] : kUnits) {
        if (unit == name)
            return factor;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::uint64_t> ParseSize(std::string_view text) {
    std::size_t digits = 0;
    bool point = false;
    while (digits < text.size() && (std::isdigit(static_cast<unsigned char>(text[digits])) != 0 ||
                                    (text[digits] == '.' && !point))) {
        point = point || text[digits] == '.';
        ++digits;
    }
    const std::string number(text.substr(0, digits));
    if (number.empty() || number == ".")
        return std::nullopt;
    const auto factor = UnitFactor(Lower(text.substr(digits)));
    if (!factor)
        return std::nullopt;
    if (!point && *factor == 1) {
        // Plain bytes are taken exactly, not through a double.
        std::uint64_t value = 0;
        for (char c : number) {
            const auto digit = static_cast<std::uint64_t>(c - '0');
            if (value > (UINT64_MAX - digit) / 10)
                return std::nullopt;
            value = value * 10 + digit;
        }
        return value;
    }
    const double value = std::strtod(number.c_str(), nullptr) * *factor;
    if (!std::isfinite(value) || value >= 18446744073709549568.0)
        return std::nullopt;
    return static_cast<std::uint64_t>(std::round(value));
}

std::string ClockText(double seconds) {
    const auto whole = static_cast<std::uint64_t>(seconds < 0 ? 0 : seconds + 0.5);
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu",
                      static_cast<unsigned long long>(whole / 3600),
                      static_cast<unsigned long long>(whole / 60 % 60),
                      static_cast<unsigned long long>(whole % 60));
    } else {
        std::snprintf(text, sizeof text, "%02llu:%02llu",
                      static_cast<unsigned long long>(whole / 60),
                      static_cast<unsigned long long>(whole % 60));
    }
    return text;
}

}  // namespace duzez::cli
