#include "core/languages.h"

#include <algorithm>

#include "platform/file_io.h"
#include "platform/text_encoding.h"

namespace duzez::core {
namespace {

constexpr std::string_view kExtension = ".lng";
constexpr std::string_view kStringsSection = "StringsTable";
constexpr std::uintmax_t kMaxLanguageFileBytes = 16ull * 1024 * 1024;

bool LessIgnoreCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return platform::AsciiLower(x) < platform::AsciiLower(y);
    });
}

std::vector<std::filesystem::path> ListLanguageFiles(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string file = it->path().filename().string();
        if (file.size() > kExtension.size() &&
            platform::EqualsIgnoreCase(
                std::string_view(file).substr(file.size() - kExtension.size()), kExtension)) {
            files.push_back(it->path());
        }
    }
    // The stored language index refers to this order, so it must not depend on the
    // order the file system happens to list entries in.
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
        return LessIgnoreCase(a.filename().string(), b.filename().string());
    });
    return files;
}

std::string LanguageName(const std::filesystem::path& file) {
    const std::string name = file.filename().string();
    return name.substr(0, name.size() - kExtension.size());
}

}  // namespace

std::string ResolveEscapes(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char next = value[i + 1];
            const char resolved = next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : 0;
            if (resolved != 0) {
                out.push_back(resolved);
                ++i;
                continue;
            }
        }
        out.push_back(value[i]);
    }
    return out;
}

CLanguages::CLanguages(std::filesystem::path folder)
    : folder_(std::move(folder)), files_(ListLanguageFiles(folder_)) {
    for (const auto& file : files_) {
        names_.push_back(LanguageName(file));
    }
    SelectLanguageByName(kDefaultLanguage);
}

void CLanguages::LoadCurrentFile() {
    current_ = IniFile();
    loadProblem_.clear();
    cache_.clear();
    if (currentIndex_ < 0)
        return;
    const auto& path = files_[static_cast<std::size_t>(currentIndex_)];
    platform::FileError error;
    const auto bytes = platform::ReadWholeFile(path, kMaxLanguageFileBytes, &error);
    if (!bytes) {
        loadProblem_ = "language file not used, " + error.message;
        return;
    }
    current_ = IniFile::Parse(platform::DecodeTextFile(*bytes).text);
    if (current_.SectionCount() == 0) {
        loadProblem_ = "language file '" + path.string() + "' has no sections; built-in texts used";
    }
}

std::string CLanguages::ReadValueLocked(std::string_view section, std::string_view key,
                                        std::string_view fallback) const {
    const auto value = current_.Value(section, key);
    if (!value)
        return std::string(fallback);
    return ResolveEscapes(platform::TruncateCodePoints(*value, kMaxValueLength));
}

std::string CLanguages::ReadValue(std::string_view section, std::string_view key,
                                  std::string_view fallback) const {
    std::lock_guard lock(mutex_);
    return ReadValueLocked(section, key, fallback);
}

std::string CLanguages::GetString(std::uint32_t id) const {
    std::lock_guard lock(mutex_);
    if (const auto cached = cache_.find(id); cached != cache_.end()) {
        return cached->second;
    }
    const std::string builtin(BuiltinText(id).value_or(""));
    std::string text = ReadValueLocked(kStringsSection, std::to_string(id), builtin);
    cache_[id] = text;
    return text;
}

std::string CLanguages::Format(std::uint32_t id, std::span<const FormatArg> args) const {
    if (auto translated = FormatChecked(GetString(id), args)) {
        return std::move(*translated);
    }
    const std::string_view builtin = BuiltinText(id).value_or("");
    if (auto fallback = FormatChecked(builtin, args)) {
        return std::move(*fallback);
    }
    return std::string(builtin);
}

void CLanguages::SelectLanguage(int index) {
    {
        std::lock_guard lock(mutex_);
        if (index >= 0) {
            if (static_cast<std::size_t>(index) < names_.size()) {
                currentIndex_ = index;
                currentName_ = names_[static_cast<std::size_t>(index)];
            } else {
                // An index beyond the list (a file was removed): the built-in texts.
                currentIndex_ = -1;
                currentName_ = std::string(kDefaultLanguage);
            }
        }
        LoadCurrentFile();
    }
    RetranslateAll();
}

void CLanguages::SelectLanguageByName(std::string_view name) {
    for (std::size_t i = 0; i < names_.size(); ++i) {
        if (platform::EqualsIgnoreCase(names_[i], name)) {
            SelectLanguage(static_cast<int>(i));
            return;
        }
    }
}

int CLanguages::GetCurrentIndex() const {
    std::lock_guard lock(mutex_);
    return currentIndex_;
}

std::string CLanguages::CurrentName() const {
    std::lock_guard lock(mutex_);
    return currentName_;
}

std::vector<std::string> CLanguages::LanguageNames() const {
    return names_;
}

std::string CLanguages::LoadProblem() const {
    std::lock_guard lock(mutex_);
    return loadProblem_;
}

void CLanguages::ApplyToMenu(const std::string& section, TranslatableMenu& menu) const {
    for (std::size_t position = 0; position < menu.PopupCount(); ++position) {
        menu.SetPopupText(position,
                          ReadValue(section, std::to_string(position), menu.PopupText(position)));
    }
    for (const std::uint32_t command : menu.CommandIds()) {
        menu.SetCommandText(command,
                            ReadValue(section, std::to_string(command), menu.CommandText(command)));
    }
}

void CLanguages::ApplyToWindow(const std::string& section, TranslatableWindow& window) const {
    if (TranslatableMenu* menu = window.OwnMenu()) {
        ApplyToMenu(section + ".menu", *menu);
    }
    if (const std::string caption = ReadValue(section, "0", ""); !caption.empty()) {
        window.SetCaption(caption);
    }
    if (window.IsDialog()) {
        for (const std::uint32_t control : window.ControlIds()) {
            window.SetControlText(
                control, ReadValue(section, std::to_string(control), window.ControlText(control)));
        }
    }
    window.OnLanguageApplied();
}

void CLanguages::TranslateWindow(const std::string& section,
                                 std::weak_ptr<TranslatableWindow> window) {
    if (auto alive = window.lock()) {
        {
            std::lock_guard lock(mutex_);
            windows_.emplace(section, window);
        }
        ApplyToWindow(section, *alive);
    }
}

void CLanguages::TranslateMenu(const std::string& section, std::weak_ptr<TranslatableMenu> menu) {
    if (auto alive = menu.lock()) {
        {
            std::lock_guard lock(mutex_);
            menus_.emplace(section, menu);
        }
        ApplyToMenu(section, *alive);
    }
}

std::size_t CLanguages::RegisteredWindowCount() const {
    std::lock_guard lock(mutex_);
    return windows_.size();
}

void CLanguages::RetranslateAll() {
    std::vector<std::pair<std::string, std::shared_ptr<TranslatableWindow>>> windows;
    std::vector<std::pair<std::string, std::shared_ptr<TranslatableMenu>>> menus;
    {
        std::lock_guard lock(mutex_);
        std::erase_if(windows_, [](const auto& entry) { return entry.second.expired(); });
        std::erase_if(menus_, [](const auto& entry) { return entry.second.expired(); });
        for (const auto& [section, window] : windows_)
            windows.emplace_back(section, window.lock());
        for (const auto& [section, menu] : menus_)
            menus.emplace_back(section, menu.lock());
    }
    for (const auto& [section, window] : windows) {
        if (window)
            ApplyToWindow(section, *window);
    }
    for (const auto& [section, menu] : menus) {
        if (menu)
            ApplyToMenu(section, *menu);
    }
}

}  // namespace duzez::core
