#pragma once

// printf-style formatting of string-table texts, where the text may come from a
// translator's file: every conversion is checked against the type of its argument, and a
// text that does not fit its arguments is refused rather than formatted.
//
// Conversions: %s text, %d %u %x 32-bit integers, %c %C one character, %I64d %I64x
// 64-bit integers, %% a percent sign. Flags, widths and precisions are not accepted.

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace duzez::core {

class FormatArg {
  public:
    FormatArg(std::string_view text) : value_(text) {}
    FormatArg(const char* text) : value_(std::string_view(text == nullptr ? "" : text)) {}
    FormatArg(const std::string& text) : value_(std::string_view(text)) {}
    FormatArg(int v) : value_(static_cast<std::int32_t>(v)) {}
    FormatArg(unsigned v) : value_(static_cast<std::uint32_t>(v)) {}
    FormatArg(long v) : value_(static_cast<std::int64_t>(v)) {}
    FormatArg(unsigned long v) : value_(static_cast<std::uint64_t>(v)) {}
    FormatArg(long long v) : value_(static_cast<std::int64_t>(v)) {}
    FormatArg(unsigned long long v) : value_(static_cast<std::uint64_t>(v)) {}
    FormatArg(char c) : value_(static_cast<char32_t>(static_cast<unsigned char>(c))) {}
    FormatArg(char32_t c) : value_(c) {}

    using Value = std::variant<std::string_view, std::int32_t, std::uint32_t, std::int64_t,
                               std::uint64_t, char32_t>;
    const Value& value() const { return value_; }

  private:
    Value value_;
};

// The formatted text, or nullopt when a conversion is unknown, lacks its argument or
// does not match the argument's type. Extra arguments are allowed (a translation may
// leave one out).
std::optional<std::string> FormatChecked(std::string_view format, std::span<const FormatArg> args);

inline std::optional<std::string> FormatChecked(std::string_view format,
                                                std::initializer_list<FormatArg> args) {
    return FormatChecked(format, std::span(args.begin(), args.size()));
}

}  // namespace duzez::core
