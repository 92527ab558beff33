#pragma once

// The trash view: what lies in this user's trash folders, with where each item came from,
// and putting items back. A conflict or a link on the way back is asked through the
// window's questions, so tests can answer.

#include <QWidget>
#include <optional>
#include <vector>

#include "ui/explorer/trash_store.h"

class QAction;
class QLabel;
class QPushButton;
class QSortFilterProxyModel;
class QStackedWidget;
class QTreeView;

namespace duzez::ui {

class Questions;
class TrashModel;

class TrashView : public QWidget {
    Q_OBJECT

  public:
    enum Column { NameColumn, LocationColumn, DateColumn, SizeColumn, ColumnCount };

    explicit TrashView(Questions& questions, QWidget* parent = nullptr);
    ~TrashView() override;

    // Lists these trash folders instead of the ones found on this machine.
    void SetRoots(std::vector<TrashRoot> roots);
    // Reads the trash folders again.
    void Refresh();
    // Puts the selected items back, asking where something is in the way.
    void RestoreSelected();

    int ItemCount() const;
    // The item behind a row of the list as shown (after sorting).
    const TrashItem* ItemAt(int row) const;
    bool ShowsEmptyText() const;
    QTreeView* List() const { return list_; }
    QAction* RestoreAction() const { return restoreAction_; }

  signals:
    // After each refresh, so the explorer can show an empty or a full trash icon.
    void ItemCountChanged(int count);

  private:
    void ShowContextMenu(const QPoint& position);
    void UpdateActions();
    RestoreAnswers Answers();

    Questions& questions_;
    std::optional<std::vector<TrashRoot>> roots_;
    TrashModel* model_ = nullptr;
    QSortFilterProxyModel* sorted_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QTreeView* list_ = nullptr;
    QLabel* emptyText_ = nullptr;
    QPushButton* restoreButton_ = nullptr;
    QAction* restoreAction_ = nullptr;
};

}  // namespace duzez::ui
