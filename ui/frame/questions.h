#pragma once

// The window's Yes/No questions and notices go through this, so tests can answer them
// without a dialog on the screen.

#include <QString>

class QWidget;

namespace duzez::ui {

class Questions {
  public:
    virtual ~Questions() = default;
    virtual bool AskYesNo(QWidget* parent, const QString& caption, const QString& text) = 0;
    virtual void Tell(QWidget* parent, const QString& caption, const QString& text) = 0;
};

// Message boxes.
class MessageBoxQuestions : public Questions {
  public:
    bool AskYesNo(QWidget* parent, const QString& caption, const QString& text) override;
    void Tell(QWidget* parent, const QString& caption, const QString& text) override;
};

}  // namespace duzez::ui
