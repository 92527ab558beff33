#include "core/file_filter.h"

#include <algorithm>

#include "platform/byte_order.h"
#include "platform/registry_store.h"
#include "platform/text_encoding.h"

namespace duzez::core {
namespace {

std::string FilterKey(std::string_view programKey) {
    return std::string(programKey) + "\\" + std::string(CFileFilter::kSubkey);
}

}  // namespace

std::uint32_t CFileFilter::U32(std::size_t offset) const {
    return platform::ReadLe<std::uint32_t>(bytes_, offset).value_or(0);
}
void CFileFilter::SetU32(std::size_t offset, std::uint32_t value) {
    platform::WriteLe<std::uint32_t>(bytes_, offset, value);
}
std::uint64_t CFileFilter::U64(std::size_t offset) const {
    return platform::ReadLe<std::uint64_t>(bytes_, offset).value_or(0);
}
void CFileFilter::SetU64(std::size_t offset, std::uint64_t value) {
    platform::WriteLe<std::uint64_t>(bytes_, offset, value);
}

std::string CFileFilter::WildcardPattern() const {
    const auto field = std::span(bytes_).subspan(kWildcardPattern, 2 * kPatternCapacity);
    std::size_t units = 0;
    while (units < kPatternCapacity && (field[2 * units] != 0 || field[2 * units + 1] != 0)) {
        ++units;
    }
    return platform::Utf16LeToUtf8(field.first(2 * units));
}

void CFileFilter::SetWildcardPattern(std::string_view pattern) {
    std::u16string units = platform::Utf8ToUtf16(pattern);
    if (units.size() >= kPatternCapacity)
        units.resize(kPatternCapacity - 1);
    for (std::size_t i = 0; i < kPatternCapacity; ++i) {
        const char16_t unit = i < units.size() ? units[i] : u'\0';
        platform::WriteLe<std::uint16_t>(bytes_, kWildcardPattern + 2 * i, unit);
    }
}

bool CFileFilter::Assign(std::span<const std::uint8_t> bytes) {
    if (bytes.size() != kSize)
        return false;
    std::copy(bytes.begin(), bytes.end(), bytes_.begin());
    return true;
}

bool CFileFilter::LoadFilter(platform::RegistryStore& store, std::string_view programKey) {
    const std::string key = FilterKey(programKey);
    if (!store.KeyExists(key)) {
        return SaveFilter(store, programKey);
    }
    const auto stored = store.ReadValue(key, "");
    if (!stored || stored->type != platform::RegType::Binary)
        return false;
    return Assign(stored->data);
}

bool CFileFilter::SaveFilter(platform::RegistryStore& store, std::string_view programKey) const {
    return store.WriteValue(FilterKey(programKey), "", platform::RegValue::FromBinary(bytes_));
}

}  // namespace duzez::core
