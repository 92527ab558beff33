#include "ui/help/help_window.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSplitter>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>
#include <algorithm>

#include "core/app.h"
#include "platform/program_folders.h"

namespace duzez::ui {

namespace {

QString PageText(const QString& file) {
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return {};
    QTextDocument document;
    document.setHtml(QString::fromUtf8(in.readAll()));
    return document.toPlainText();
}

QString PageTitle(const QString& file) {
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return {};
    static const QRegularExpression kTitle(
        QStringLiteral("<title>(.*?)</title>"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    const auto match = kTitle.match(QString::fromUtf8(in.readAll()));
    return match.hasMatch() ? match.captured(1).trimmed() : QFileInfo(file).fileName();
}

}  // namespace

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("helpWindow"));
    setWindowTitle(tr("Duzez Quarnel Help"));
    if (const auto media = platform::FindProgramData("media"))
        media_ = QString::fromStdString(media->string());
    auto* layout = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;
    auto* contents = new QPushButton(tr("Contents"), this);
    auto* back = new QPushButton(tr("Back"), this);
    query_ = new QLineEdit(this);
    query_->setObjectName(QStringLiteral("helpSearch"));
    query_->setPlaceholderText(tr("Search the help"));
    query_->setClearButtonEnabled(true);
    bar->addWidget(contents);
    bar->addWidget(back);
    bar->addWidget(query_, 1);
    layout->addLayout(bar);
    auto* splitter = new QSplitter(Qt::Horizontal, this);
    results_ = new QListWidget(splitter);
    results_->hide();
    browser_ = new QTextBrowser(splitter);
    browser_->setObjectName(QStringLiteral("helpPage"));
    browser_->setSearchPaths({media_});
    browser_->setOpenExternalLinks(false);
    browser_->setOpenLinks(true);
    splitter->setStretchFactor(1, 3);
    layout->addWidget(splitter, 1);
    connect(contents, &QPushButton::clicked, this,
            [this] { Open(QStringLiteral("help/index.html")); });
    connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
    connect(query_, &QLineEdit::returnPressed, this, &HelpWindow::RunSearch);
    connect(results_, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { Open(item->data(Qt::UserRole).toString()); });
    connect(results_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { Open(item->data(Qt::UserRole).toString()); });
    resize(820, 600);
}

HelpWindow* HelpWindow::ShowPage(const QString& page, QWidget* near) {
    static QPointer<HelpWindow> window;
    if (window == nullptr) {
        window = new HelpWindow(near != nullptr ? near->window() : nullptr);
        window->setAttribute(Qt::WA_DeleteOnClose);
    }
    window->Open(page);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void HelpWindow::Open(const QString& page) {
    const int hash = page.indexOf(QLatin1Char('#'));
    const QString file = hash < 0 ? page : page.left(hash);
    QUrl url = QUrl::fromLocalFile(QDir(media_).filePath(file));
    if (hash >= 0)
        url.setFragment(page.mid(hash + 1));
    browser_->setSource(url);
    if (browser_->toPlainText().isEmpty() && !QFile::exists(url.toLocalFile())) {
        browser_->setHtml(tr("<p>The help pages are not installed (looked for %1).</p>")
                              .arg(url.toLocalFile().toHtmlEscaped()));
    }
    if (page.contains(QStringLiteral("#a-z")))
        query_->setFocus();
    if (page.endsWith(QStringLiteral("about.html"))) {
        browser_->setHtml(browser_->toHtml().replace(QStringLiteral("%VERSION%"),
                                                     QCoreApplication::applicationVersion()));
    }
}

QString HelpWindow::CurrentPage() const {
    return QDir(media_).relativeFilePath(browser_->source().toLocalFile());
}

QStringList HelpWindow::Search(const QString& query) const {
    QStringList pages;
    const QStringList words = query.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return pages;
    QDirIterator it(QDir(media_).filePath(QStringLiteral("help")), {QStringLiteral("*.html")},
                    QDir::Files);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString text = PageText(file);
        const bool all = std::all_of(words.begin(), words.end(), [&text](const QString& word) {
            return text.contains(word, Qt::CaseInsensitive);
        });
        if (all)
            pages << QDir(media_).relativeFilePath(file);
    }
    pages.sort();
    return pages;
}

void HelpWindow::RunSearch() {
    results_->clear();
    const QStringList pages = Search(query_->text());
    for (const QString& page : pages) {
        auto* item = new QListWidgetItem(PageTitle(QDir(media_).filePath(page)), results_);
        item->setData(Qt::UserRole, page);
    }
    if (pages.isEmpty())
        new QListWidgetItem(tr("No page holds those words."), results_);
    results_->setVisible(true);
}

}  // namespace duzez::ui
