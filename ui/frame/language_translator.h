#pragma once

// The windows' own texts (Qt's tr()) in the interface language: looked up in the current
// language file, section "Qt:<class>", under the English text. What the file does not
// hold stays English, as the built-in texts do for the string table.

#include <QTranslator>

namespace duzez::core {
class CLanguages;
}

namespace duzez::ui {

class LanguageTranslator : public QTranslator {
    Q_OBJECT

  public:
    explicit LanguageTranslator(const core::CLanguages& languages, QObject* parent = nullptr);

    QString translate(const char* context, const char* sourceText, const char* disambiguation,
                      int n) const override;
    bool isEmpty() const override { return false; }

    // The section and key a text is filed under ("Qt:MainFrame", "Start Analyzing").
    static QString Section(const char* context);
    static QString Key(const QString& sourceText);

  private:
    const core::CLanguages& languages_;
};

}  // namespace duzez::ui
