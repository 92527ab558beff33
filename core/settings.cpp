#include "core/settings.h"

#include <cassert>

#include "core/settings_fields.h"
#include "platform/byte_order.h"
#include "platform/registry_store.h"
#include "platform/text_encoding.h"

namespace duzez::core {
namespace {

constexpr int kDefaultWidth = 800;
constexpr int kDefaultHeight = 600;
constexpr std::string_view kDefaultLogFileName = "Duzez Quarnel.log";
constexpr std::size_t kReservedTextCapacity = 2;

}  // namespace

CSettings::CSettings(platform::RegistryStore& store, std::string keyPath)
    : store_(store), keyPath_(std::move(keyPath)) {
    SetWord(kPlacement, kPlacementLength);
}

std::uint32_t CSettings::Word(std::size_t offset) const {
    assert(offset % 4 == 0 && offset < kSize);
    return std::atomic_ref(words_[offset / 4]).load(std::memory_order_relaxed);
}

void CSettings::SetWord(std::size_t offset, std::uint32_t value) {
    assert(offset % 4 == 0 && offset < kSize);
    std::atomic_ref(words_[offset / 4]).store(value, std::memory_order_relaxed);
}

std::uint16_t CSettings::Unit(std::size_t offset) const {
    const std::uint32_t word = Word(offset & ~std::size_t{3});
    return static_cast<std::uint16_t>((offset & 2) ? word >> 16 : word & 0xFFFF);
}

void CSettings::SetUnit(std::size_t offset, std::uint16_t unit) {
    const std::size_t aligned = offset & ~std::size_t{3};
    const std::uint32_t word = Word(aligned);
    SetWord(aligned, (offset & 2) ? (word & 0x0000FFFFu) | (std::uint32_t{unit} << 16)
                                  : (word & 0xFFFF0000u) | unit);
}

std::string CSettings::Text(std::size_t offset, std::size_t capacity) const {
    std::u16string units;
    for (std::size_t i = 0; i < capacity && offset + 2 * i + 2 <= kSize; ++i) {
        const std::uint16_t unit = Unit(offset + 2 * i);
        if (unit == 0)
            break;
        units.push_back(static_cast<char16_t>(unit));
    }
    return platform::Utf16ToUtf8(units);
}

void CSettings::SetText(std::size_t offset, std::size_t capacity, std::string_view text) {
    std::u16string units = platform::Utf8ToUtf16(text);
    if (units.size() >= capacity) {
        units.resize(capacity - 1);
        // Never leave half of a surrogate pair behind.
        if (!units.empty() && units.back() >= 0xD800 && units.back() <= 0xDBFF)
            units.pop_back();
    }
    for (std::size_t i = 0; i < capacity; ++i) {
        SetUnit(offset + 2 * i, i < units.size() ? units[i] : 0);
    }
}

std::uint32_t CSettings::Checksum() const {
    std::uint32_t sum = 0;
    for (std::size_t i = 1; i < kWords; ++i) {
        sum += std::atomic_ref(words_[i]).load(std::memory_order_relaxed);
    }
    return sum;
}

std::vector<std::uint8_t> CSettings::Bytes() const {
    std::vector<std::uint8_t> bytes(kSize);
    for (std::size_t i = 0; i < kWords; ++i) {
        platform::WriteLe<std::uint32_t>(bytes, 4 * i, Word(4 * i));
    }
    return bytes;
}

bool CSettings::Assign(std::span<const std::uint8_t> bytes) {
    if (bytes.size() != kSize)
        return false;
    for (std::size_t i = 0; i < kWords; ++i) {
        SetWord(4 * i, *platform::ReadLe<std::uint32_t>(bytes, 4 * i));
    }
    return true;
}

WindowRect CSettings::WindowGeometry() const {
    return {static_cast<std::int32_t>(Word(kWindowLeft)),
            static_cast<std::int32_t>(Word(kWindowTop)),
            static_cast<std::int32_t>(Word(kWindowWidth)),
            static_cast<std::int32_t>(Word(kWindowHeight))};
}

void CSettings::SetWindowGeometry(const WindowRect& rect) {
    SetWord(kWindowLeft, static_cast<std::uint32_t>(rect.left));
    SetWord(kWindowTop, static_cast<std::uint32_t>(rect.top));
    SetWord(kWindowWidth, static_cast<std::uint32_t>(rect.width));
    SetWord(kWindowHeight, static_cast<std::uint32_t>(rect.height));
}

bool CSettings::LoadSettings(const SettingsEnvironment& environment) {
    bool accepted = false;
    const auto stored = store_.ReadValue(keyPath_, kValueName);
    if (stored && stored->type == platform::RegType::Binary && stored->data.size() == kSize) {
        const auto word0 = platform::ReadLe<std::uint32_t>(stored->data, 0);
        std::uint32_t sum = 0;
        for (std::size_t i = 1; i < kWords; ++i) {
            sum += *platform::ReadLe<std::uint32_t>(stored->data, 4 * i);
        }
        if (word0 == sum) {
            accepted = Assign(stored->data);
        }
    }
    if (!accepted) {
        SetDefaults(environment);
    }
    SetRescanPending(true);
    return accepted;
}

void CSettings::SetDefaults(const SettingsEnvironment& environment) {
    for (const SettingsField& field : SettingsFields()) {
        SetWord(field.offset, field.defaultValue);
    }
    SetWord(kPlacement, kPlacementLength);
    SetWindowGeometry({environment.workAreaRight / 2 - kDefaultWidth / 2,
                       environment.workAreaBottom / 2 - kDefaultHeight / 2, kDefaultWidth,
                       kDefaultHeight});
    SetDestinationFolder(environment.destinationFolder);
    SetTempFolder(environment.tempFolder);
    SetLogFileName(kDefaultLogFileName);
    SetText(kReservedText, kReservedTextCapacity, "*");
    SetWord(kChecksum, Checksum());
    SaveSettings();
}

bool CSettings::SaveIfChanged() {
    const std::uint32_t sum = Checksum();
    if (sum == Word(kChecksum)) {
        return true;
    }
    SetWord(kChecksum, sum);
    return SaveSettings();
}

bool CSettings::SaveSettings() {
    return store_.WriteValue(keyPath_, kValueName, platform::RegValue::FromBinary(Bytes()));
}

}  // namespace duzez::core
