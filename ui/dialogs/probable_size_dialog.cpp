#include "ui/dialogs/probable_size_dialog.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>

#include "core/app.h"
#include "ui/frame/questions.h"
#include "ui/help/help_window.h"

namespace duzez::ui {
namespace {

using recovery::ProbableSize;
using recovery::SizeAnswer;
using recovery::SizeUnit;

QString Utf8(const std::string& text) {
    return QString::fromStdString(text);
}

// Type names may come from a name's extension on the disk: plain text only.
QLabel* PlainLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

}  // namespace

ProbableSizeDialog::ProbableSizeDialog(const ProbableSize& question, core::CApp& app,
                                       QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("probableSizeDialog"));
    setWindowTitle(tr("Enter probable file size"));
    const auto& languages = app.Languages();
    const QString typeName = Utf8(question.TypeName());
    auto* layout = new QVBoxLayout(this);

    auto* explanation = PlainLabel(
        tr("The file of the '%1' type is found, but where it ends is not known. Choose how "
           "much to recover from its start:")
            .arg(typeName),
        this);
    explanation->setWordWrap(true);
    labels_[Info::Explanation] = explanation;
    layout->addWidget(explanation);

    auto* facts = new QGridLayout;
    const auto addFact = [&](Info info, const QString& caption, const QString& value) {
        const int row = facts->rowCount();
        facts->addWidget(new QLabel(caption, this), row, 0);
        QLabel* label = PlainLabel(value, this);
        facts->addWidget(label, row, 1);
        labels_[info] = label;
    };
    addFact(Info::Offset, tr("Offset:"), QString::number(question.Offset()));
    addFact(Info::Name, tr("Name:"), Utf8(question.Name()));
    addFact(Info::Type, tr("Type:"), typeName);
    addFact(Info::Condition, tr("Condition:"),
            Utf8(languages.GetString(question.Deleted() ? core::StringId::Deleted
                                                        : core::StringId::Live)));
    facts->setColumnStretch(1, 1);
    layout->addLayout(facts);

    const std::string kbWord = languages.GetString(core::StringId::KBytes);
    auto* sizeBox = new QGroupBox(this);
    auto* sizeGrid = new QGridLayout(sizeBox);
    sizeOptions_ = new QButtonGroup(this);
    const auto addOption = [&](int id, const QString& caption, Info info, std::int64_t kb) {
        auto* button = new QRadioButton(caption, sizeBox);
        sizeOptions_->addButton(button, id);
        sizeGrid->addWidget(button, id, 0);
        QLabel* figure = PlainLabel(Utf8(ProbableSize::KBText(kb, kbWord)), sizeBox);
        figure->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        sizeGrid->addWidget(figure, id, 1, 1, 2);
        labels_[info] = figure;
    };
    addOption(0, tr("The default file size for this file type is:"), Info::DefaultSize,
              question.DefaultSizeKB());
    addOption(1, tr("Distance to the next file of any type:"), Info::NextAny, question.NextAnyKB());
    addOption(2, tr("Distance to the next file of the same type:"), Info::NextSame,
              question.NextSameKB());
    auto* custom = new QRadioButton(tr("Custom size:"), sizeBox);
    sizeOptions_->addButton(custom, 3);
    sizeGrid->addWidget(custom, 3, 0);
    number_ = new QLineEdit(sizeBox);
    number_->setObjectName(QStringLiteral("customNumber"));
    // -1 is the prefill of an unknown size; 18 digits always fit 64 bits.
    number_->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("-?\\d{0,18}")), number_));
    sizeGrid->addWidget(number_, 3, 1);
    unit_ = new QComboBox(sizeBox);
    unit_->setObjectName(QStringLiteral("customUnit"));
    unit_->addItems({tr("Bytes"), tr("KB"), tr("MB"), tr("GB")});
    sizeGrid->addWidget(unit_, 3, 2);
    layout->addWidget(sizeBox);

    auto* scopeBox = new QGroupBox(this);
    auto* scopeLayout = new QVBoxLayout(scopeBox);
    scopes_ = new QButtonGroup(this);
    const QString scopeTexts[] = {tr("This file only"), tr("All files of this type"),
                                  tr("All files of any type")};
    for (int id = 0; id < 3; ++id) {
        auto* button = new QRadioButton(scopeTexts[id], scopeBox);
        scopes_->addButton(button, id);
        scopeLayout->addWidget(button);
    }
    layout->addWidget(scopeBox);

    auto* buttons = new QDialogButtonBox(this);
    ok_ = buttons->addButton(tr("OK"), QDialogButtonBox::AcceptRole);
    skip_ = buttons->addButton(tr("Skip File"), QDialogButtonBox::ActionRole);
    cancel_ = buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    auto* help = buttons->addButton(tr("Help"), QDialogButtonBox::HelpRole);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, [this] {
        answer_ = ProbableSize::Ok(CurrentChoice());
        accept();
    });
    connect(skip_, &QPushButton::clicked, this, [this] {
        answer_ = ProbableSize::Skip();
        done(QDialog::Accepted);
    });
    connect(cancel_, &QPushButton::clicked, this, &ProbableSizeDialog::reject);
    connect(help, &QPushButton::clicked, this,
            [this] { HelpWindow::ShowPage(QStringLiteral("help/recovering.html"), this); });
    // Closing the window or Escape is Cancel as well.
    connect(this, &QDialog::rejected, this, [this] { answer_ = ProbableSize::Cancel(); });
    layout->addWidget(buttons);

    connect(sizeOptions_, &QButtonGroup::idToggled, this, [this] { UpdateCustomEnabled(); });
    SetChoice(question.InitialChoice());
}

SizeAnswer ProbableSizeDialog::Ask(const ProbableSize& question, core::CApp& app, QWidget* parent) {
    ProbableSizeDialog dialog(question, app, parent);
    dialog.exec();
    return dialog.Answer();
}

QString ProbableSizeDialog::Text(Info info) const {
    const auto it = labels_.find(info);
    return it == labels_.end() ? QString() : it->second->text();
}

ProbableSize::Choice ProbableSizeDialog::CurrentChoice() const {
    ProbableSize::Choice choice;
    choice.sizeOption = std::max(0, sizeOptions_->checkedId());
    choice.scope = std::max(0, scopes_->checkedId());
    bool valid = false;
    const qlonglong number = number_->text().toLongLong(&valid);
    // An empty or unreadable number is no size: the recovery then skips the file.
    choice.custom.number = valid ? number : -1;
    choice.custom.unit = static_cast<SizeUnit>(std::clamp(unit_->currentIndex(), 0, 3));
    return choice;
}

void ProbableSizeDialog::SetChoice(const ProbableSize::Choice& choice) {
    if (QAbstractButton* button = sizeOptions_->button(std::clamp(choice.sizeOption, 0, 3)))
        button->setChecked(true);
    if (QAbstractButton* button = scopes_->button(std::clamp(choice.scope, 0, 2)))
        button->setChecked(true);
    number_->setText(QString::number(choice.custom.number));
    unit_->setCurrentIndex(static_cast<int>(choice.custom.unit));
    UpdateCustomEnabled();
}

void ProbableSizeDialog::UpdateCustomEnabled() {
    const bool on = ProbableSize::CustomEnabled({sizeOptions_->checkedId(), {}, 0});
    number_->setEnabled(on);
    unit_->setEnabled(on);
}

DialogSizeQuestions::DialogSizeQuestions(core::CApp& app, Questions& questions, QWidget* window)
    : app_(app), questions_(questions), window_(window), context_(std::make_unique<QObject>()) {}

DialogSizeQuestions::~DialogSizeQuestions() = default;

template <typename Function>
void DialogSizeQuestions::OnInterfaceThread(Function&& function) {
    if (QThread::currentThread() == context_->thread()) {
        function();
        return;
    }
    // The recovery thread waits here until the dialog has been answered.
    QMetaObject::invokeMethod(context_.get(), std::forward<Function>(function),
                              Qt::BlockingQueuedConnection);
}

SizeAnswer DialogSizeQuestions::AnswerSizeQuestion(const ProbableSize& question) {
    SizeAnswer answer = ProbableSize::Cancel();
    OnInterfaceThread([&] { answer = ProbableSizeDialog::Ask(question, app_, window_.data()); });
    return answer;
}

std::optional<std::filesystem::path> DialogSizeQuestions::AskOtherDestination(
    const std::filesystem::path& refused) {
    std::optional<std::filesystem::path> other;
    OnInterfaceThread([&] {
        const auto& languages = app_.Languages();
        if (!questions_.AskYesNo(
                window_.data(), Utf8(languages.GetString(core::StringId::Warning)),
                Utf8(languages.GetString(core::StringId::DestinationOnSourceDriveSelectAnother)))) {
            return;
        }
        const QString chosen = QFileDialog::getExistingDirectory(
            window_.data(), Utf8(languages.GetString(core::StringId::SelectDestinationFolder)),
            QString::fromStdString(refused.string()));
        if (!chosen.isEmpty())
            other = std::filesystem::path(chosen.toStdString());
    });
    return other;
}

}  // namespace duzez::ui
