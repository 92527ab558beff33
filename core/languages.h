#pragma once

// Interface languages: the "*.lng" files of the language folder, strings by identifier in
// the current language with the built-in texts as the fallback, and the windows and menus
// that are translated again whenever the language changes.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/ini_file.h"
#include "core/message_format.h"
#include "core/string_table.h"
#include "core/translatable.h"

namespace duzez::core {

class CLanguages {
  public:
    static constexpr std::string_view kFolderName = "Languages";
    static constexpr std::string_view kDefaultLanguage = "English";
    static constexpr std::size_t kMaxValueLength = 4095;

    // Lists the language files of `folder` (which may not exist) and selects "English".
    explicit CLanguages(std::filesystem::path folder);

    // The text of `id` in the current language, else the built-in text ("" when neither).
    std::string GetString(std::uint32_t id) const;
    std::string GetString(StringId id) const { return GetString(static_cast<std::uint32_t>(id)); }

    // GetString(id) formatted with `args`; a translation that does not fit the arguments
    // falls back to the built-in text.
    std::string Format(std::uint32_t id, std::span<const FormatArg> args) const;
    std::string Format(StringId id, std::initializer_list<FormatArg> args) const {
        return Format(static_cast<std::uint32_t>(id), std::span(args.begin(), args.size()));
    }

    // A value of the current file with the escapes \n, \t and \r resolved, or `fallback`.
    std::string ReadValue(std::string_view section, std::string_view key,
                          std::string_view fallback) const;

    void SelectLanguage(int index);  // -1 keeps the current one
    void SelectLanguageByName(std::string_view name);
    int GetCurrentIndex() const;
    std::string CurrentName() const;
    std::vector<std::string> LanguageNames() const;
    const std::filesystem::path& Folder() const { return folder_; }
    // Why the current file could not be used, or "" when it was fine.
    std::string LoadProblem() const;

    void TranslateWindow(const std::string& section, std::weak_ptr<TranslatableWindow> window);
    void TranslateMenu(const std::string& section, std::weak_ptr<TranslatableMenu> menu);
    std::size_t RegisteredWindowCount() const;

  private:
    void LoadCurrentFile();
    void RetranslateAll();
    void ApplyToWindow(const std::string& section, TranslatableWindow& window) const;
    void ApplyToMenu(const std::string& section, TranslatableMenu& menu) const;
    std::string ReadValueLocked(std::string_view section, std::string_view key,
                                std::string_view fallback) const;

    const std::filesystem::path folder_;
    std::vector<std::string> names_;
    std::vector<std::filesystem::path> files_;  // beside names_, as spelled on disk

    mutable std::recursive_mutex mutex_;
    std::string currentName_{kDefaultLanguage};
    int currentIndex_ = -1;
    IniFile current_;
    std::string loadProblem_;
    mutable std::map<std::uint32_t, std::string> cache_;
    std::multimap<std::string, std::weak_ptr<TranslatableWindow>> windows_;
    std::multimap<std::string, std::weak_ptr<TranslatableMenu>> menus_;
};

// "\n", "\t" and "\r" written as two characters become the characters themselves.
std::string ResolveEscapes(std::string_view value);

}  // namespace duzez::core
