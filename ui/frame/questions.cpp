#include "ui/frame/questions.h"

#include <QMessageBox>

namespace duzez::ui {

bool MessageBoxQuestions::AskYesNo(QWidget* parent, const QString& caption, const QString& text) {
    return QMessageBox::question(parent, caption, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

void MessageBoxQuestions::Tell(QWidget* parent, const QString& caption, const QString& text) {
    QMessageBox::information(parent, caption, text);
}

}  // namespace duzez::ui
