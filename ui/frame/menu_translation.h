#pragma once

// The explorer's menu bar as the language manager sees it: popups by position, commands by
// identifier. The texts it offers as defaults are the built-in ones, so choosing English
// again after another language brings them back.

#include <QComboBox>
#include <QMenuBar>
#include <map>

#include "core/languages.h"
#include "core/translatable.h"

namespace duzez::ui {

class MenuTranslation : public core::TranslatableMenu {
  public:
    MenuTranslation(QMenuBar& bar, const std::map<int, QAction*>& commands);

    std::size_t PopupCount() const override;
    std::string PopupText(std::size_t position) const override;
    void SetPopupText(std::size_t position, const std::string& text) override;
    std::vector<std::uint32_t> CommandIds() const override;
    std::string CommandText(std::uint32_t command) const override;
    void SetCommandText(std::uint32_t command, const std::string& text) override;

  private:
    std::vector<QAction*> popups_;
    std::vector<std::string> popupTexts_;
    std::map<std::uint32_t, QAction*> commands_;
    std::map<std::uint32_t, std::string> commandTexts_;
};

// Every language name in `list`, the current one selected; the current index, or -1 with
// the list disabled when there are no language files.
int FillLanguageList(const core::CLanguages& languages, QComboBox& list);

}  // namespace duzez::ui
