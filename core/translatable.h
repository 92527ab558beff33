#pragma once

// What the language manager needs of a window or a menu to translate it. The desktop
// interface implements these over its widgets; the engine only keeps the registry of
// section names and calls back.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace duzez::core {

class TranslatableMenu {
  public:
    virtual ~TranslatableMenu() = default;
    // Top-level popups are keyed by position ("0" is the first).
    virtual std::size_t PopupCount() const = 0;
    virtual std::string PopupText(std::size_t position) const = 0;
    virtual void SetPopupText(std::size_t position, const std::string& text) = 0;
    // Command items of every popup are keyed by command identifier; separators are left out.
    virtual std::vector<std::uint32_t> CommandIds() const = 0;
    virtual std::string CommandText(std::uint32_t command) const = 0;
    virtual void SetCommandText(std::uint32_t command, const std::string& text) = 0;
};

class TranslatableWindow {
  public:
    virtual ~TranslatableWindow() = default;
    // A top-level window's own menu, translated under "<section>.menu"; null when none.
    virtual TranslatableMenu* OwnMenu() { return nullptr; }
    virtual void SetCaption(const std::string& caption) = 0;
    // Dialogs and form views also have their child controls translated.
    virtual bool IsDialog() const { return false; }
    virtual std::vector<std::uint32_t> ControlIds() const { return {}; }
    virtual std::string ControlText(std::uint32_t) const { return {}; }
    virtual void SetControlText(std::uint32_t, const std::string&) {}
    // The texts changed: re-lay out and redraw the menu bar.
    virtual void OnLanguageApplied() = 0;
};

}  // namespace duzez::core
