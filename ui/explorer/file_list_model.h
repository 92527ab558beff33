#pragma once

// The file list: the folders and files of one folder of an analysed volume, or the results
// of a search, with the check marks the tree shows. Rows are pointers into the volume's
// tree; sorting orders a vector of them, so 100,000 rows cost 100,000 pointers.

#include <QAbstractTableModel>
#include <functional>
#include <vector>

#include "ui/explorer/volume_checks.h"

namespace duzez::devices {
class CVolume;
}

namespace duzez::ui {

class FileListModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum Column { Name, Size, Type, Modified, InFolder };

    explicit FileListModel(VolumeChecks& checks, QObject* parent = nullptr);

    // The contents of `folder` of `volume`'s tree.
    void ShowFolder(devices::CVolume* volume, filesystems::FoundObject* folder);
    // Search results, with the "In Folder" column.
    void ShowResults(devices::CVolume* volume, std::vector<filesystems::FoundObject*> objects);
    void AppendResults(const std::vector<filesystems::FoundObject*>& objects);
    void Clear();
    // Objects the analysis added to the folder shown since the last look.
    void Refresh();
    // Check marks changed elsewhere.
    void RepaintChecks();
    // Which objects are shown at all (the display filter); an empty function shows all.
    using Filter = std::function<bool(const filesystems::FoundObject&)>;
    void SetFilter(Filter filter) { filter_ = std::move(filter); }

    devices::CVolume* Volume() const { return volume_; }
    filesystems::FoundObject* Folder() const { return folder_; }
    filesystems::FoundObject* ObjectAt(const QModelIndex& index) const;
    int RowOf(const filesystems::FoundObject* object) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

  signals:
    void ChecksChanged(devices::CVolume* volume,
                       const std::vector<const filesystems::FoundObject*>& changed);

  private:
    void SortRows();

    VolumeChecks& checks_;
    devices::CVolume* volume_ = nullptr;
    filesystems::FoundObject* folder_ = nullptr;
    bool results_ = false;
    std::vector<filesystems::FoundObject*> rows_;
    Filter filter_;
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};

// FILETIME as the local date and time; empty for 0.
QString LocalTimeText(std::uint64_t fileTime);

}  // namespace duzez::ui
