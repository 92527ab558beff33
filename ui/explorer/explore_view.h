#pragma once

// The explorer's upper pane: the files tree on the left; on the right the file list, the
// volume information, or the "My Computer" overview, by view mode.

#include <QWidget>
#include <memory>

#include "ui/explorer/file_list_model.h"
#include "ui/explorer/files_tree_model.h"
#include "ui/explorer/volume_checks.h"

class QListView;
class QSplitter;
class QStackedWidget;
class QTextBrowser;
class QTreeView;
class QTreeWidget;

namespace duzez::devices {
class CLocalComputer;
class CVolume;
}  // namespace duzez::devices

namespace duzez::ui {

namespace ViewMode {
constexpr int Previous = 0;
constexpr int Files = 2;
constexpr int Search = 3;
constexpr int VolumeInformation = 4;
constexpr int RecycleBin = 7;
constexpr int MyComputer = 8;
}  // namespace ViewMode

class FindBar;
class ThumbnailProxy;
class FindInFound;
class Questions;
class TrashView;

class ExploreView : public QWidget {
    Q_OBJECT

  public:
    ExploreView(devices::CLocalComputer& computer, Questions& questions, QWidget* parent = nullptr);
    ~ExploreView() override;

    void SetMode(int mode, bool force = false);
    int Mode() const { return mode_; }

    FilesTreeModel& TreeModel() { return treeModel_; }
    FileListModel& ListModel() { return listModel_; }
    VolumeChecks& Checks() { return checks_; }
    QTreeView* TreeView() const { return tree_; }
    QTreeView* ListView() const { return list_; }
    // The file list as a grid of thumbnails instead of the report.
    void SetThumbnails(bool on);
    bool ThumbnailsShown() const { return thumbnailsOn_; }
    QListView* ThumbnailView() const { return thumbs_; }
    ThumbnailProxy& Thumbnails() const { return *thumbnails_; }
    TrashView* Trash() const { return trash_; }

    // The volume of the tree's current node (a drive, or the volume a folder lies on).
    devices::CVolume* SelectedVolume() const;
    // Whether the tree's current node is a drive node rather than a found folder.
    bool VolumeNodeSelected() const;
    // The found object that has the focus in the list, else null.
    filesystems::FoundObject* FocusedObject() const;
    // Every object selected in the list.
    std::vector<filesystems::FoundObject*> SelectedObjects() const;

    // The tree after a rescan or a loaded image; keeps the current volume when it is still
    // listed.
    void RebuildDrives();
    void SelectVolume(const devices::CVolume& volume);
    // Before `volume` is analysed: what is shown of its objects goes.
    void BeginAnalysis(devices::CVolume& volume);
    // What the analysis found since the last look appears; the counts grow.
    void RefreshFound();
    // Opens the list's focused folder (Enter) or the parent of the folder shown (Backspace).
    void OpenFocused();
    void OpenParent();
    // The display filter as the computer's filter record says now (after the Filters
    // dialog); the views show it at once.
    void ApplyDisplayFilter();
    // The find bar: a search of the active volume's objects, its results in the list as
    // they come (the window's quick timer calls UpdateSearch).
    void StartSearch(devices::CVolume& volume);
    void CancelSearch();
    void UpdateSearch();
    bool Searching() const;
    FindBar* Finder() const { return findBar_; }

  signals:
    void CurrentChanged();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void OnTreeCurrentChanged(const QModelIndex& current);
    void ShowVolumeInformation(devices::CVolume& volume);
    void ShowOverview();
    void OpenInTree(devices::CVolume& volume, const filesystems::FoundObject& folder);
    void SelectNextStartingWith(QChar letter);

    devices::CLocalComputer& computer_;
    VolumeChecks checks_;
    FilesTreeModel treeModel_;
    FileListModel listModel_;
    QSplitter* splitter_ = nullptr;
    QStackedWidget* left_ = nullptr;
    QStackedWidget* right_ = nullptr;
    QTreeView* tree_ = nullptr;
    QTreeView* list_ = nullptr;
    QListView* thumbs_ = nullptr;
    ThumbnailProxy* thumbnails_ = nullptr;
    bool thumbnailsOn_ = false;
    QTreeWidget* information_ = nullptr;
    QTextBrowser* overview_ = nullptr;
    TrashView* trash_ = nullptr;
    FindBar* findBar_ = nullptr;
    std::unique_ptr<FindInFound> search_;
    devices::CVolume* searchVolume_ = nullptr;
    Questions& questions_;
    int mode_ = 0;
    int previousMode_ = 0;
};

}  // namespace duzez::ui
