#pragma once

// The per-user store that stands in for the registry: a tree of keys with typed values,
// kept in one regedit-format text file. Key paths are relative to HKEY_CURRENT_USER and
// use '\' between components; key and value names compare case-insensitively and keep
// their spelling. Subkeys enumerate in the order they were created (file order).

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/reg_text.h"
#include "platform/reg_value.h"

namespace duzez::platform {

enum class StoreLoadResult {
    Loaded,      // the file was read
    Missing,     // no file yet: an empty store
    MovedAside,  // the file could not be parsed; kept as "<name>.bad", the store starts empty
    Unreadable,  // the file exists but cannot be read; the store starts empty, file untouched
};

class RegistryStore {
  public:
    // Where the store lives for this user: $XDG_CONFIG_HOME/Quarnel/Duzez/registry.reg.
    static std::filesystem::path DefaultPath();

    explicit RegistryStore(std::filesystem::path file);
    ~RegistryStore();
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    StoreLoadResult Load();
    const std::string& LastError() const { return lastError_; }
    const std::filesystem::path& FilePath() const { return file_; }

    bool KeyExists(std::string_view keyPath) const;
    bool CreateKey(std::string_view keyPath);  // with its parents; saves when new
    bool DeleteKey(std::string_view keyPath);  // with its subtree; saves

    // name "" is the default value.
    std::optional<RegValue> ReadValue(std::string_view keyPath, std::string_view name) const;
    bool WriteValue(std::string_view keyPath, std::string_view name, RegValue value);
    bool DeleteValue(std::string_view keyPath, std::string_view name);

    std::optional<std::string> SubkeyName(std::string_view keyPath, std::size_t index) const;
    std::size_t SubkeyCount(std::string_view keyPath) const;

    // Applies a regedit file (UTF-8 or UTF-16LE with BOM): all of it or, on an error,
    // nothing. The error names the line.
    bool ImportFile(const std::filesystem::path& regFile, std::string* error = nullptr);
    bool ImportText(std::string_view text, std::string* error = nullptr);

    // Writes are saved at once unless a batch is open; the batch saves once when it ends.
    class Batch {
      public:
        explicit Batch(RegistryStore& store);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;
        bool Commit();  // saves now; returns whether the file was written

      private:
        RegistryStore& store_;
        bool done_ = false;
    };

  private:
    struct Key;

    Key* FindKey(std::string_view keyPath) const;
    Key* FindOrCreateKey(std::string_view keyPath, bool& created);
    void Apply(const RegDocument& document);
    bool SaveLocked();

    std::filesystem::path file_;
    std::unique_ptr<Key> root_;
    mutable std::recursive_mutex mutex_;
    int openBatches_ = 0;
    bool dirty_ = false;
    std::string lastError_;
};

}  // namespace duzez::platform
