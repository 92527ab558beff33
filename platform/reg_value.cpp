#include "platform/reg_value.h"

#include <algorithm>

#include "platform/byte_order.h"
#include "platform/text_encoding.h"

namespace duzez::platform {

RegValue RegValue::FromDword(std::uint32_t value) {
    RegValue v{RegType::Dword, std::vector<std::uint8_t>(4)};
    WriteLe<std::uint32_t>(v.data, 0, value);
    return v;
}

RegValue RegValue::FromString(std::string_view utf8) {
    RegValue v{RegType::String, Utf8ToUtf16Le(utf8)};
    v.data.push_back(0);
    v.data.push_back(0);
    return v;
}

RegValue RegValue::FromBinary(std::span<const std::uint8_t> bytes) {
    return RegValue{RegType::Binary, std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
}

std::optional<std::uint32_t> RegValue::AsDword() const {
    if (type != RegType::Dword || data.size() != 4) {
        return std::nullopt;
    }
    return ReadLe<std::uint32_t>(data, 0);
}

std::optional<std::string> RegValue::AsString() const {
    if (type != RegType::String && type != RegType::ExpandString) {
        return std::nullopt;
    }
    std::size_t units = data.size() / 2;
    for (std::size_t i = 0; i < data.size() / 2; ++i) {
        if (data[2 * i] == 0 && data[2 * i + 1] == 0) {
            units = i;
            break;
        }
    }
    return Utf16LeToUtf8(std::span(data).first(units * 2));
}

}  // namespace duzez::platform
