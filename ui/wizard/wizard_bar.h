#pragma once

// The wizard's left bar: the list of steps from the media folder's WizardBar.html with
// the current one highlighted, and links to the other interface modes.

#include <QStringList>
#include <QWidget>

class QTextBrowser;
class QUrl;

namespace duzez::ui {

class WizardBar : public QWidget {
    Q_OBJECT

  public:
    explicit WizardBar(QWidget* parent = nullptr);

    // The step names in order, and the links (command, text) below them.
    void SetSteps(const QStringList& steps, const QList<QPair<int, QString>>& modes);
    void SetCurrent(int step);
    int Current() const { return current_; }
    QStringList Steps() const { return steps_; }
    // The bar as shown now, for a look from outside.
    QString Html() const { return html_; }

  signals:
    void CommandRequested(int command);

  private:
    void Render();
    void OnLink(const QUrl& link);

    QTextBrowser* view_ = nullptr;
    QString page_;
    QStringList steps_;
    QList<QPair<int, QString>> modes_;
    QString html_;
    int current_ = 0;
};

}  // namespace duzez::ui
