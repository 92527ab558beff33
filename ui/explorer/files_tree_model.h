#pragma once

// The files tree: "My Computer" with its disks and volumes, "Drive Images", and below each
// analysed volume the folders its analysis found. Folders are fetched when first opened
// and grow while a scan runs; files are the list's business.

#include <QAbstractItemModel>
#include <functional>
#include <memory>
#include <unordered_set>
#include <vector>

#include "ui/explorer/volume_checks.h"

namespace duzez::devices {
class CLocalComputer;
class CVolume;
}  // namespace duzez::devices

namespace duzez::ui {

class FilesTreeModel : public QAbstractItemModel {
    Q_OBJECT

  public:
    FilesTreeModel(devices::CLocalComputer& computer, VolumeChecks& checks,
                   QObject* parent = nullptr);
    ~FilesTreeModel() override;

    // The drive nodes again, after a rescan or an image was loaded.
    void RebuildDrives();
    // Drops what the tree shows of the volume's objects (before it is analysed again,
    // which frees them) and shows its folders from now on.
    void BeginAnalysis(devices::CVolume& volume);
    // Folders found since the last look appear under the nodes already opened.
    void Refresh();

    devices::CVolume* VolumeAt(const QModelIndex& index) const;
    // The node that stands for the desktop's Trash.
    bool IsTrash(const QModelIndex& index) const;
    QModelIndex TrashIndex() const;
    // The Trash node's icon: full or empty.
    void SetTrashFull(bool full);
    filesystems::FoundObject* ObjectAt(const QModelIndex& index) const;
    QModelIndex IndexOf(const devices::CVolume& volume) const;
    QModelIndex IndexOf(const devices::CVolume& volume, const filesystems::FoundObject& object);
    // The check mark of an object changed elsewhere (the list): repaint its ancestors.
    void ObjectChecksChanged(devices::CVolume& volume,
                             const std::vector<const filesystems::FoundObject*>& objects);
    // Which folders are shown (the display filter); an empty function shows all. The
    // tree is built again.
    void SetFilter(std::function<bool(const filesystems::FoundObject&)> filter);
    bool IsAnalysed(const devices::CVolume& volume) const { return analysed_.count(&volume) != 0; }

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

  signals:
    // A check mark changed here; the list repaints.
    void ChecksChanged();

  private:
    struct Node;
    Node* NodeAt(const QModelIndex& index) const;
    QModelIndex IndexOfNode(const Node* node) const;
    std::vector<std::unique_ptr<Node>> ChildrenFor(const Node& node) const;
    void AppendNew(Node& node);
    void RefreshOpened(Node& node);
    Node* FindNode(Node& from, const filesystems::FoundObject* object) const;

    devices::CLocalComputer& computer_;
    VolumeChecks& checks_;
    std::unique_ptr<Node> root_;
    std::unordered_set<const devices::CVolume*> analysed_;
    bool trashFull_ = false;
    std::function<bool(const filesystems::FoundObject&)> filter_;
};

}  // namespace duzez::ui
