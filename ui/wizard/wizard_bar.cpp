#include "ui/wizard/wizard_bar.h"

#include <QFile>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/program_folders.h"

namespace duzez::ui {

namespace {

// What the bar shows when the media folder is missing (an odd installation).
constexpr const char* kFallbackPage =
    "<html><body style=\"background-color:#1f4e79;color:#dce6f0\"><!--STEPS--><!--MODES-->"
    "</body></html>";

}  // namespace

WizardBar::WizardBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("wizardBar"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    view_ = new QTextBrowser(this);
    view_->setOpenLinks(false);
    view_->setFrameShape(QFrame::NoFrame);
    layout->addWidget(view_);
    setFixedWidth(230);  // room for the longest German step names
    connect(view_, &QTextBrowser::anchorClicked, this, &WizardBar::OnLink);
    page_ = QString::fromLatin1(kFallbackPage);
    if (const auto media = platform::FindProgramData("media")) {
        QFile file(QString::fromStdString((*media / "WizardBar.html").string()));
        if (file.open(QIODevice::ReadOnly))
            page_ = QString::fromUtf8(file.readAll());
    }
}

void WizardBar::SetSteps(const QStringList& steps, const QList<QPair<int, QString>>& modes) {
    steps_ = steps;
    modes_ = modes;
    Render();
}

void WizardBar::SetCurrent(int step) {
    current_ = step;
    Render();
}

void WizardBar::Render() {
    QString list = QStringLiteral("<ol>");
    for (int n = 0; n < steps_.size(); ++n) {
        const char* kind = n == current_ ? "current" : (n < current_ ? "done" : "next");
        list += QStringLiteral("<li class=\"%1\">%2</li>")
                    .arg(QLatin1String(kind), steps_[n].toHtmlEscaped());
    }
    list += QStringLiteral("</ol>");
    QString links = QStringLiteral("<p class=\"modes\">");
    for (const auto& [command, text] : modes_)
        links += QStringLiteral("<a href=\"command:%1\">%2</a><br>").arg(command).arg(text);
    links += QStringLiteral("</p>");
    html_ = page_;
    html_.replace(QStringLiteral("<!--STEPS-->"), list);
    html_.replace(QStringLiteral("<!--MODES-->"), links);
    view_->setHtml(html_);
}

void WizardBar::OnLink(const QUrl& link) {
    if (link.scheme() != QStringLiteral("command"))
        return;
    bool ok = false;
    const int command = link.path().toInt(&ok);
    if (ok)
        emit CommandRequested(command);
}

}  // namespace duzez::ui
