#include "core/message_format.h"

#include <charconv>

#include "platform/text_encoding.h"

namespace duzez::core {
namespace {

std::optional<std::uint32_t> As32(const FormatArg::Value& v) {
    if (const auto* s = std::get_if<std::int32_t>(&v))
        return static_cast<std::uint32_t>(*s);
    if (const auto* u = std::get_if<std::uint32_t>(&v))
        return *u;
    return std::nullopt;
}

std::optional<std::uint64_t> As64(const FormatArg::Value& v) {
    if (const auto* s = std::get_if<std::int64_t>(&v))
        return static_cast<std::uint64_t>(*s);
    if (const auto* u = std::get_if<std::uint64_t>(&v))
        return *u;
    return std::nullopt;
}

template <typename T>
void AppendNumber(std::string& out, T value, int base = 10, bool upper = false) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, base);
    if (upper) {
        for (char* c = buffer; c != result.ptr; ++c) {
            if (*c >= 'a' && *c <= 'f')
                *c = static_cast<char>(*c - 'a' + 'A');
        }
    }
    out.append(buffer, result.ptr);
}

}  // namespace

std::optional<std::string> FormatChecked(std::string_view format, std::span<const FormatArg> args) {
    std::string out;
    out.reserve(format.size() + 32);
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            out.push_back(format[i]);
            continue;
        }
        if (++i >= format.size())
            return std::nullopt;
        char conversion = format[i];
        bool wide64 = false;
        if (conversion == '%') {
            out.push_back('%');
            continue;
        }
        if (format.substr(i, 3) == "I64") {
            wide64 = true;
            i += 3;
            if (i >= format.size())
                return std::nullopt;
            conversion = format[i];
        }
        if (next >= args.size())
            return std::nullopt;
        const FormatArg::Value& arg = args[next++].value();
        if (wide64) {
            const auto value = As64(arg);
            if (!value)
                return std::nullopt;
            if (conversion == 'd') {
                AppendNumber(out, static_cast<std::int64_t>(*value));
            } else if (conversion == 'x' || conversion == 'X') {
                AppendNumber(out, *value, 16, conversion == 'X');
            } else if (conversion == 'u') {
                AppendNumber(out, *value);
            } else {
                return std::nullopt;
            }
            continue;
        }
        switch (conversion) {
            case 's': {
                const auto* text = std::get_if<std::string_view>(&arg);
                if (text == nullptr)
                    return std::nullopt;
                out.append(*text);
                break;
            }
            case 'd':
            case 'i':
            case 'u':
            case 'x':
            case 'X': {
                const auto value = As32(arg);
                if (!value)
                    return std::nullopt;
                if (conversion == 'd' || conversion == 'i') {
                    AppendNumber(out, static_cast<std::int32_t>(*value));
                } else if (conversion == 'u') {
                    AppendNumber(out, *value);
                } else {
                    AppendNumber(out, *value, 16, conversion == 'X');
                }
                break;
            }
            case 'c':
            case 'C': {
                const auto* c = std::get_if<char32_t>(&arg);
                if (c == nullptr)
                    return std::nullopt;
                platform::AppendUtf8(out, *c);
                break;
            }
            default:
                return std::nullopt;
        }
    }
    return out;
}

}  // namespace duzez::core
