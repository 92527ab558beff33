#include "ui/frame/menu_translation.h"

#include <QAction>
#include <QMenu>

namespace duzez::ui {

MenuTranslation::MenuTranslation(QMenuBar& bar, const std::map<int, QAction*>& commands) {
    for (QAction* popup : bar.actions()) {
        if (popup->menu() == nullptr)
            continue;
        popups_.push_back(popup);
        popupTexts_.push_back(popup->text().toStdString());
    }
    for (const auto& [command, action] : commands) {
        if (command <= 0 || action->isSeparator())
            continue;
        const auto id = static_cast<std::uint32_t>(command);
        commands_[id] = action;
        commandTexts_[id] = action->text().toStdString();
    }
}

std::size_t MenuTranslation::PopupCount() const {
    return popups_.size();
}

std::string MenuTranslation::PopupText(std::size_t position) const {
    return position < popupTexts_.size() ? popupTexts_[position] : std::string();
}

void MenuTranslation::SetPopupText(std::size_t position, const std::string& text) {
    if (position < popups_.size())
        popups_[position]->setText(QString::fromStdString(text));
}

std::vector<std::uint32_t> MenuTranslation::CommandIds() const {
    std::vector<std::uint32_t> ids;
    for (const auto& [id, action] : commands_)
        ids.push_back(id);
    return ids;
}

std::string MenuTranslation::CommandText(std::uint32_t command) const {
    const auto found = commandTexts_.find(command);
    return found != commandTexts_.end() ? found->second : std::string();
}

void MenuTranslation::SetCommandText(std::uint32_t command, const std::string& text) {
    const auto found = commands_.find(command);
    if (found == commands_.end())
        return;
    // A language file may give the accelerator after a tab, as menus of old did.
    QString shown = QString::fromStdString(text);
    if (const int tab = shown.indexOf(QLatin1Char('\t')); tab >= 0)
        shown.truncate(tab);
    found->second->setText(shown);
}

int FillLanguageList(const core::CLanguages& languages, QComboBox& list) {
    list.clear();
    const auto names = languages.LanguageNames();
    for (const std::string& name : names)
        list.addItem(QString::fromStdString(name));
    if (names.empty()) {
        list.setEnabled(false);
        return -1;
    }
    list.setEnabled(true);
    const int current = languages.GetCurrentIndex();
    list.setCurrentIndex(current);
    return current;
}

}  // namespace duzez::ui
