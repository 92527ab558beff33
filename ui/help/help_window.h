#pragma once

// The help pages in a window of their own: the page, its contents, and a search over
// every page's text.

#include <QWidget>

class QLineEdit;
class QListWidget;
class QTextBrowser;

namespace duzez::ui {

class HelpWindow : public QWidget {
    Q_OBJECT

  public:
    explicit HelpWindow(QWidget* parent = nullptr);

    // Shows `page` (relative to the media folder: "help/index.html", "about.html") in the
    // one help window, creating it when needed.
    static HelpWindow* ShowPage(const QString& page, QWidget* near = nullptr);
    void Open(const QString& page);
    QString CurrentPage() const;
    // The pages whose text holds every word of `query`, by title.
    QStringList Search(const QString& query) const;

  private:
    void RunSearch();

    QString media_;
    QTextBrowser* browser_ = nullptr;
    QLineEdit* query_ = nullptr;
    QListWidget* results_ = nullptr;
};

}  // namespace duzez::ui
