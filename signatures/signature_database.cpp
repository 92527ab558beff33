#include "signatures/signature_database.h"

#include <cstdio>

#include "filesystems/found_object.h"
#include "platform/registry_store.h"

namespace duzez::signatures {
namespace {

struct DwordField {
    const char* name;
    std::uint32_t Signature::*plain;
    std::atomic<std::uint32_t> Signature::*shared;
};

// Stored in this order.
const DwordField kDwordFields[] = {
    {"InternalProcessing", &Signature::InternalProcessing, nullptr},
    {"SearchEnable", nullptr, &Signature::SearchEnable},
    {"ShowFilesThisType", &Signature::ShowFilesThisType, nullptr},
    {"Enable", &Signature::Enable, nullptr},
    {"View", nullptr, &Signature::View},
    {"DefaultSize", &Signature::DefaultSize, nullptr},
    {"SearchOrder", &Signature::SearchOrder, nullptr},
};

const std::pair<const char*, std::string Signature::*> kTextFields[] = {
    {"Title", &Signature::Title},
    {"Description", &Signature::Description},
    {"FileExtensions", &Signature::FileExtensions},
    {"Prefix", &Signature::Prefix},
    {"Group", &Signature::Group},
    {"LastUpdate", &Signature::LastUpdate},
};

std::int32_t LeadingNumber(const std::string& name) {
    std::int64_t value = 0;
    for (const char c : name) {
        if (c < '0' || c > '9')
            break;
        value = value * 10 + (c - '0');
        if (value > 0x7FFFFFFF)
            return 0;
    }
    return static_cast<std::int32_t>(value);
}

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

}  // namespace

SignatureDatabase::SignatureDatabase(platform::RegistryStore& store, std::string programKey,
                                     std::function<std::uint64_t()> nextId)
    : store_(store), programKey_(std::move(programKey)), nextId_(std::move(nextId)) {}

std::string SignatureDatabase::SignaturesKey() const {
    return programKey_ + "\\" + std::string(kSubkey);
}

void SignatureDatabase::LoadDatabase() {
    signatures_.clear();
    const std::string parent = SignaturesKey();
    for (std::size_t index = 0; index < kMaxSubkeys; ++index) {
        const auto name = store_.SubkeyName(parent, index);
        if (!name)
            break;
        const std::string key = parent + "\\" + *name;
        auto signature = std::make_unique<Signature>();
        for (const DwordField& field : kDwordFields) {
            const auto value = store_.ReadValue(key, field.name);
            if (!value || !value->AsDword())
                continue;
            if (field.plain != nullptr) {
                (*signature).*field.plain = *value->AsDword();
            } else {
                ((*signature).*field.shared).store(*value->AsDword());
            }
        }
        for (const auto& [valueName, member] : kTextFields) {
            const auto value = store_.ReadValue(key, valueName);
            if (value && value->AsString())
                (*signature).*member = *value->AsString();
        }
        signature->FormatId = LeadingNumber(*name);
        for (std::size_t number = 1; number <= kMaxPatterns; ++number) {
            char valueName[16];
            std::snprintf(valueName, sizeof valueName, "Signature%.2zu", number);
            const auto value = store_.ReadValue(key, valueName);
            if (!value || value->type != platform::RegType::String)
                break;
            if (auto pattern = ParsePatternText(value->AsString().value_or(""))) {
                signature->Patterns.push_back(*pattern);
            }
        }
        signature->FirstExtension = Signature::FirstExtensionOf(signature->FileExtensions);
        signatures_.push_back(std::move(signature));
    }
    BuildGroups();
    BuildExtensionIndex();
}

void SignatureDatabase::BuildGroups() {
    groups_.clear();
    std::map<std::string, std::int32_t> names{{"Unknown", -1}};
    for (const auto& signature : signatures_) {
        auto found = names.find(signature->Group);
        if (found == names.end()) {
            const auto id = static_cast<std::int32_t>(nextId_());
            found = names.emplace(signature->Group, id).first;
            auto group = std::make_unique<Signature>();
            group->IsGroup = 1;
            group->GroupId = id;
            group->Title = signature->Group;
            groups_.emplace(id, std::move(group));
        }
        signature->GroupId = found->second;
    }
}

void SignatureDatabase::BuildExtensionIndex() {
    extensions_.clear();
    for (const auto& signature : signatures_) {
        std::string_view rest = signature->FileExtensions;
        while (true) {
            const std::size_t cut = rest.find_first_of(",;");
            std::string_view piece = rest.substr(0, cut);
            const auto trimmed = [](char c) {
                return c == ',' || c == ';' || c == ' ' || c == '*' || c == '.';
            };
            while (!piece.empty() && trimmed(piece.front()))
                piece.remove_prefix(1);
            while (!piece.empty() && trimmed(piece.back()))
                piece.remove_suffix(1);
            if (!piece.empty())
                extensions_.try_emplace(Upper(piece), signature.get());
            if (cut == std::string_view::npos)
                break;
            rest.remove_prefix(cut + 1);
        }
    }
}

bool SignatureDatabase::SaveSignature(const Signature& signature) {
    char number[16];
    std::snprintf(number, sizeof number, "%.5d", signature.FormatId);
    const std::string key = SignaturesKey() + "\\" + number;
    platform::RegistryStore::Batch batch(store_);
    bool ok = store_.CreateKey(key);
    for (const DwordField& field : kDwordFields) {
        const std::uint32_t value =
            field.plain != nullptr ? signature.*field.plain : (signature.*field.shared).load();
        ok = store_.WriteValue(key, field.name, platform::RegValue::FromDword(value)) && ok;
    }
    for (const auto& [valueName, member] : kTextFields) {
        ok = store_.WriteValue(key, valueName, platform::RegValue::FromString(signature.*member)) &&
             ok;
    }
    return batch.Commit() && ok;
}

void SignatureDatabase::SaveAll() {
    platform::RegistryStore::Batch batch(store_);
    for (const auto& signature : signatures_) {
        SaveSignature(*signature);
    }
}

Signature* SignatureDatabase::FindSignatureById(std::int32_t formatId) const {
    for (const auto& signature : signatures_) {
        if (signature->FormatId == formatId)
            return signature.get();
    }
    return nullptr;
}

Signature* SignatureDatabase::FindSignatureForObject(filesystems::FoundObject& object) const {
    if (object.SignatureId != 0) {
        if (Signature* byId = FindSignatureById(object.SignatureId))
            return byId;
    }
    if (!object.Is(filesystems::ObjectFlags::Named) || object.Name.empty())
        return nullptr;
    const std::size_t dot = object.Name.rfind('.');
    if (dot == std::string::npos)
        return nullptr;
    std::string_view extension = std::string_view(object.Name).substr(dot + 1);
    while (!extension.empty() && extension.front() == '.')
        extension.remove_prefix(1);
    const auto found = extensions_.find(Upper(extension));
    if (found == extensions_.end())
        return nullptr;
    object.SignatureId = static_cast<std::int16_t>(found->second->FormatId);
    return found->second;
}

const Signature* SignatureDatabase::FindGroup(std::int32_t groupId) const {
    const auto found = groups_.find(groupId);
    return found == groups_.end() ? nullptr : found->second.get();
}

std::string SignatureDatabase::FirstExtension(const Signature& signature) {
    return Signature::FirstExtensionOf(signature.FileExtensions);
}

bool SignatureDatabase::MatchSector(const Signature& signature,
                                    std::span<const std::uint8_t, kSectorBytes> sector) {
    for (const SignaturePattern& pattern : signature.Patterns) {
        if (pattern.Matches(sector))
            return true;
    }
    return false;
}

std::shared_lock<std::shared_mutex> SignatureDatabase::PatternsReadLock() const {
    return std::shared_lock(patternsMutex_);
}

std::optional<SignaturePattern> SignatureDatabase::GetPattern(const Signature& signature,
                                                              std::size_t index) const {
    std::shared_lock lock(patternsMutex_);
    if (index >= signature.Patterns.size())
        return std::nullopt;
    return signature.Patterns[index];
}

bool SignatureDatabase::SetPatternOptions(Signature& signature, std::size_t index,
                                          std::uint16_t compareLength, bool checkByBits) {
    std::unique_lock lock(patternsMutex_);
    if (index >= signature.Patterns.size())
        return false;
    signature.Patterns[index].CompareLength =
        std::min<std::uint16_t>(compareLength, static_cast<std::uint16_t>(kSectorBytes));
    signature.Patterns[index].CheckByBits = checkByBits;
    return true;
}

void SignatureDatabase::AppendPattern(Signature& signature) {
    std::unique_lock lock(patternsMutex_);
    SignaturePattern pattern;
    pattern.Mask.fill(0xFF);
    signature.Patterns.push_back(pattern);
}

bool SignatureDatabase::RemovePattern(Signature& signature, std::size_t index) {
    std::unique_lock lock(patternsMutex_);
    if (index >= signature.Patterns.size())
        return false;
    signature.Patterns.erase(signature.Patterns.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

filesystems::FormatInfo FormatInfoOf(const Signature& signature) {
    return {signature.FormatId,
            signature.GroupId,
            signature.SearchEnable.load() != 0,
            signature.Prefix,
            SignatureDatabase::FirstExtension(signature),
            signature.Title.empty() ? signature.Description : signature.Title};
}

std::optional<filesystems::FormatInfo> SignatureDatabase::FindFormatById(
    std::int32_t formatId) const {
    const Signature* signature = FindSignatureById(formatId);
    if (signature == nullptr)
        return std::nullopt;
    return FormatInfoOf(*signature);
}

std::optional<filesystems::FormatInfo> SignatureDatabase::FindFormatForObject(
    filesystems::FoundObject& object) const {
    const Signature* signature = FindSignatureForObject(object);
    if (signature == nullptr)
        return std::nullopt;
    return FormatInfoOf(*signature);
}

std::optional<bool> SignatureDatabase::SectorFitsName(const filesystems::FoundObject& object,
                                                      std::span<const std::uint8_t> sector) const {
    if (sector.size() < kSectorBytes)
        return std::nullopt;
    filesystems::FoundObject named;
    named.SetName(object.GetName());
    const Signature* signature = FindSignatureForObject(named);
    if (signature == nullptr || signature->Patterns.empty())
        return std::nullopt;
    auto lock = PatternsReadLock();
    return MatchSector(*signature, sector.first<kSectorBytes>());
}

std::optional<std::string> SignatureDatabase::GroupTitle(std::int32_t groupId) const {
    const Signature* group = FindGroup(groupId);
    if (group == nullptr)
        return std::nullopt;
    return group->Title;
}

}  // namespace duzez::signatures
