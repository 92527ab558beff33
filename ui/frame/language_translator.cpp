#include "ui/frame/language_translator.h"

#include "core/languages.h"

namespace duzez::ui {

LanguageTranslator::LanguageTranslator(const core::CLanguages& languages, QObject* parent)
    : QTranslator(parent), languages_(languages) {}

QString LanguageTranslator::Section(const char* context) {
    // The class name without its namespaces: the file is for translators, not for C++.
    QString name = QString::fromUtf8(context);
    const int colons = name.lastIndexOf(QStringLiteral("::"));
    if (colons >= 0)
        name = name.mid(colons + 2);
    return QStringLiteral("Qt:") + name;
}

QString LanguageTranslator::Key(const QString& sourceText) {
    QString key = sourceText.trimmed();
    key.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    key.replace(QLatin1Char('\t'), QStringLiteral("\\t"));
    return key;
}

QString LanguageTranslator::translate(const char* context, const char* sourceText,
                                      const char* /*disambiguation*/, int /*n*/) const {
    if (context == nullptr || sourceText == nullptr || *sourceText == '\0')
        return {};
    const QString source = QString::fromUtf8(sourceText);
    const std::string value =
        languages_.ReadValue(Section(context).toStdString(), Key(source).toStdString(), "");
    if (value.empty())
        return {};
    // The file's keys and values lose their outer blanks; the texts keep theirs (" KB").
    qsizetype lead = 0;
    while (lead < source.size() && source.at(lead).isSpace())
        ++lead;
    qsizetype trail = 0;
    while (trail < source.size() - lead && source.at(source.size() - 1 - trail).isSpace())
        ++trail;
    return source.left(lead) + QString::fromStdString(value) + source.right(trail);
}

}  // namespace duzez::ui
