#include "platform/registry_store.h"

#include <cstdlib>

#include "platform/file_io.h"
#include "platform/program_folders.h"
#include "platform/text_encoding.h"

namespace duzez::platform {
namespace {

// Far beyond any real store (the settings record makes it ~300 KB); refuses to pull a
// stray huge file into memory.
constexpr std::uintmax_t kMaxStoreFileBytes = 64ull * 1024 * 1024;

std::vector<std::string_view> SplitPath(std::string_view path) {
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        const std::size_t slash = path.find('\\');
        const std::string_view part = path.substr(0, slash);
        if (!part.empty()) {
            parts.push_back(part);
        }
        if (slash == std::string_view::npos)
            break;
        path.remove_prefix(slash + 1);
    }
    return parts;
}

}  // namespace

struct RegistryStore::Key {
    std::string name;
    std::vector<std::unique_ptr<Key>> subkeys;
    std::vector<RegValueEntry> values;

    Key* Child(std::string_view childName) const {
        for (const auto& k : subkeys) {
            if (EqualsIgnoreCase(k->name, childName))
                return k.get();
        }
        return nullptr;
    }
    RegValueEntry* Value(std::string_view valueName) {
        for (auto& v : values) {
            if (EqualsIgnoreCase(v.name, valueName))
                return &v;
        }
        return nullptr;
    }
    void SetValue(std::string_view valueName, RegValue value) {
        if (RegValueEntry* existing = Value(valueName)) {
            existing->value = std::move(value);
        } else {
            values.push_back({std::string(valueName), false, std::move(value)});
        }
    }
    bool RemoveValue(std::string_view valueName) {
        return std::erase_if(values, [&](const RegValueEntry& v) {
                   return EqualsIgnoreCase(v.name, valueName);
               }) > 0;
    }
    void Collect(const std::string& path, RegDocument& out) const {
        if (!path.empty() || !values.empty()) {
            out.keys.push_back({path, false, values});
        }
        for (const auto& k : subkeys) {
            k->Collect(path.empty() ? k->name : path + "\\" + k->name, out);
        }
    }
};

std::filesystem::path RegistryStore::DefaultPath() {
    return UserConfigFolder() / "Quarnel" / "Duzez" / "registry.reg";
}

RegistryStore::RegistryStore(std::filesystem::path file)
    : file_(std::move(file)), root_(std::make_unique<Key>()) {}

RegistryStore::~RegistryStore() = default;

StoreLoadResult RegistryStore::Load() {
    std::lock_guard lock(mutex_);
    root_ = std::make_unique<Key>();
    lastError_.clear();
    std::error_code ec;
    if (!std::filesystem::exists(file_, ec)) {
        return StoreLoadResult::Missing;
    }
    FileError readError;
    const auto bytes = ReadWholeFile(file_, kMaxStoreFileBytes, &readError);
    if (!bytes) {
        lastError_ = readError.message;
        return StoreLoadResult::Unreadable;
    }
    RegDocument document;
    RegParseError parseError;
    if (!ParseRegText(DecodeTextFile(*bytes).text, document, parseError)) {
        auto aside = file_;
        aside += ".bad";
        std::filesystem::rename(file_, aside, ec);
        lastError_ = file_.string() + " line " + std::to_string(parseError.line) + ": " +
                     parseError.message + "; kept as " + aside.string();
        return StoreLoadResult::MovedAside;
    }
    Apply(document);
    return StoreLoadResult::Loaded;
}

RegistryStore::Key* RegistryStore::FindKey(std::string_view keyPath) const {
    Key* key = root_.get();
    for (const std::string_view part : SplitPath(keyPath)) {
        key = key->Child(part);
        if (key == nullptr)
            return nullptr;
    }
    return key;
}

RegistryStore::Key* RegistryStore::FindOrCreateKey(std::string_view keyPath, bool& created) {
    Key* key = root_.get();
    for (const std::string_view part : SplitPath(keyPath)) {
        Key* child = key->Child(part);
        if (child == nullptr) {
            key->subkeys.push_back(std::make_unique<Key>());
            child = key->subkeys.back().get();
            child->name = std::string(part);
            created = true;
        }
        key = child;
    }
    return key;
}

void RegistryStore::Apply(const RegDocument& document) {
    for (const RegKeyEntry& entry : document.keys) {
        const auto parts = SplitPath(entry.path);
        if (entry.remove) {
            if (parts.empty()) {
                root_ = std::make_unique<Key>();
                continue;
            }
            Key* parent = root_.get();
            for (std::size_t i = 0; i + 1 < parts.size() && parent != nullptr; ++i) {
                parent = parent->Child(parts[i]);
            }
            if (parent != nullptr) {
                std::erase_if(parent->subkeys, [&](const std::unique_ptr<Key>& k) {
                    return EqualsIgnoreCase(k->name, parts.back());
                });
            }
            continue;
        }
        bool created = false;
        Key* key = FindOrCreateKey(entry.path, created);
        for (const RegValueEntry& value : entry.values) {
            if (value.remove) {
                key->RemoveValue(value.name);
            } else {
                key->SetValue(value.name, value.value);
            }
        }
    }
}

bool RegistryStore::SaveLocked() {
    if (openBatches_ > 0) {
        dirty_ = true;
        return true;
    }
    dirty_ = false;
    RegDocument document;
    root_->Collect("", document);
    const std::string text = FormatRegText(document);
    FileError error;
    const bool ok = WriteFileAtomically(
        file_, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), &error);
    if (!ok) {
        lastError_ = error.message;
    }
    return ok;
}

bool RegistryStore::KeyExists(std::string_view keyPath) const {
    std::lock_guard lock(mutex_);
    return FindKey(keyPath) != nullptr;
}

bool RegistryStore::CreateKey(std::string_view keyPath) {
    std::lock_guard lock(mutex_);
    bool created = false;
    FindOrCreateKey(keyPath, created);
    return !created || SaveLocked();
}

bool RegistryStore::DeleteKey(std::string_view keyPath) {
    std::lock_guard lock(mutex_);
    RegDocument document;
    document.keys.push_back({std::string(keyPath), true, {}});
    if (FindKey(keyPath) == nullptr) {
        return false;
    }
    Apply(document);
    return SaveLocked();
}

std::optional<RegValue> RegistryStore::ReadValue(std::string_view keyPath,
                                                 std::string_view name) const {
    std::lock_guard lock(mutex_);
    Key* key = FindKey(keyPath);
    if (key == nullptr)
        return std::nullopt;
    const RegValueEntry* entry = key->Value(name);
    if (entry == nullptr)
        return std::nullopt;
    return entry->value;
}

bool RegistryStore::WriteValue(std::string_view keyPath, std::string_view name, RegValue value) {
    std::lock_guard lock(mutex_);
    bool created = false;
    FindOrCreateKey(keyPath, created)->SetValue(name, std::move(value));
    return SaveLocked();
}

bool RegistryStore::DeleteValue(std::string_view keyPath, std::string_view name) {
    std::lock_guard lock(mutex_);
    Key* key = FindKey(keyPath);
    if (key == nullptr || !key->RemoveValue(name))
        return false;
    return SaveLocked();
}

std::optional<std::string> RegistryStore::SubkeyName(std::string_view keyPath,
                                                     std::size_t index) const {
    std::lock_guard lock(mutex_);
    const Key* key = FindKey(keyPath);
    if (key == nullptr || index >= key->subkeys.size())
        return std::nullopt;
    return key->subkeys[index]->name;
}

std::size_t RegistryStore::SubkeyCount(std::string_view keyPath) const {
    std::lock_guard lock(mutex_);
    const Key* key = FindKey(keyPath);
    return key == nullptr ? 0 : key->subkeys.size();
}

bool RegistryStore::ImportFile(const std::filesystem::path& regFile, std::string* error) {
    FileError readError;
    const auto bytes = ReadWholeFile(regFile, kMaxStoreFileBytes, &readError);
    if (!bytes) {
        if (error != nullptr)
            *error = readError.message;
        return false;
    }
    std::string parseMessage;
    if (!ImportText(DecodeTextFile(*bytes).text, &parseMessage)) {
        if (error != nullptr)
            *error = regFile.string() + " " + parseMessage;
        return false;
    }
    return true;
}

bool RegistryStore::ImportText(std::string_view text, std::string* error) {
    RegDocument document;
    RegParseError parseError;
    if (!ParseRegText(text, document, parseError)) {
        if (error != nullptr) {
            *error = "line " + std::to_string(parseError.line) + ": " + parseError.message;
        }
        return false;
    }
    std::lock_guard lock(mutex_);
    Apply(document);
    if (!SaveLocked()) {
        if (error != nullptr)
            *error = lastError_;
        return false;
    }
    return true;
}

RegistryStore::Batch::Batch(RegistryStore& store) : store_(store) {
    std::lock_guard lock(store_.mutex_);
    ++store_.openBatches_;
}

RegistryStore::Batch::~Batch() {
    Commit();
}

bool RegistryStore::Batch::Commit() {
    std::lock_guard lock(store_.mutex_);
    if (done_)
        return true;
    done_ = true;
    --store_.openBatches_;
    return !store_.dirty_ || store_.SaveLocked();
}

}  // namespace duzez::platform
