#pragma once

// "Enter probable file size": how much of a file found by its signature to recover, and
// for which files the choice holds. The figures and the answer come from
// recovery::ProbableSize, so what the dialog shows is what the recovery writes.

#include <QDialog>
#include <QPointer>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

#include "recovery/probable_size.h"
#include "recovery/recovery.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace duzez::core {
class CApp;
}

namespace duzez::ui {

class Questions;

class ProbableSizeDialog : public QDialog {
    Q_OBJECT

  public:
    enum class Info { Explanation, Offset, Name, Type, Condition, DefaultSize, NextAny, NextSame };

    ProbableSizeDialog(const recovery::ProbableSize& question, core::CApp& app,
                       QWidget* parent = nullptr);

    // Shows the dialog and waits for its answer; closing it is Cancel.
    static recovery::SizeAnswer Ask(const recovery::ProbableSize& question, core::CApp& app,
                                    QWidget* parent);

    QString Text(Info info) const;
    recovery::ProbableSize::Choice CurrentChoice() const;
    void SetChoice(const recovery::ProbableSize::Choice& choice);
    // What the button that closed the dialog answered; Cancel until then.
    recovery::SizeAnswer Answer() const { return answer_; }

    QPushButton* OkButton() const { return ok_; }
    QPushButton* SkipButton() const { return skip_; }
    QPushButton* CancelButton() const { return cancel_; }

  private:
    void UpdateCustomEnabled();

    recovery::SizeAnswer answer_ = recovery::ProbableSize::Cancel();
    QButtonGroup* sizeOptions_ = nullptr;
    QButtonGroup* scopes_ = nullptr;
    QLineEdit* number_ = nullptr;
    QComboBox* unit_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* skip_ = nullptr;
    QPushButton* cancel_ = nullptr;
    std::map<Info, QLabel*> labels_;
};

// The recovery's questions as dialogs on the window's thread. The recovery thread waits
// for each answer, so the window must not wait for that thread while a question can come.
// Construct on the interface thread; it must outlive every recovery that uses it.
class DialogSizeQuestions : public recovery::RecoveryQuestions {
  public:
    DialogSizeQuestions(core::CApp& app, Questions& questions, QWidget* window);
    ~DialogSizeQuestions() override;

    recovery::SizeAnswer AnswerSizeQuestion(const recovery::ProbableSize& question) override;
    std::optional<std::filesystem::path> AskOtherDestination(
        const std::filesystem::path& refused) override;

  private:
    template <typename Function>
    void OnInterfaceThread(Function&& function);

    core::CApp& app_;
    Questions& questions_;
    QPointer<QWidget> window_;
    std::unique_ptr<QObject> context_;  // lives on the interface thread
};

}  // namespace duzez::ui
