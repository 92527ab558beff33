#pragma once

// The explorer's legend: what each icon of the tree and the list means, as the media page
// legend.html lays it out, with the views' own icons and texts in the interface language.

#include <QTextBrowser>

namespace duzez::ui {

class LegendView : public QTextBrowser {
    Q_OBJECT

  public:
    explicit LegendView(QWidget* parent = nullptr);

    // The meanings shown, in order (tests).
    const QStringList& Meanings() const { return meanings_; }

  private:
    QStringList meanings_;
};

}  // namespace duzez::ui
