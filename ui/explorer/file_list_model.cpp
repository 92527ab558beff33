#include "ui/explorer/file_list_model.h"

#include <strings.h>
#include <QDateTime>
#include <QLocale>
#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "devices/volume.h"
#include "ui/explorer/object_walk.h"
#include "ui/explorer/size_text.h"
#include "ui/icons.h"

namespace duzez::ui {

using filesystems::FoundObject;
namespace ObjectFlags = filesystems::ObjectFlags;

QString LocalTimeText(std::uint64_t fileTime) {
    if (fileTime == 0)
        return {};
    constexpr std::int64_t kUnixEpochInFileTime = 11644473600LL * 1000;
    const auto milliseconds = static_cast<std::int64_t>(fileTime / 10000) - kUnixEpochInFileTime;
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(milliseconds);
    const QLocale locale;
    return locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(when.time(), QLocale::ShortFormat);
}

FileListModel::FileListModel(VolumeChecks& checks, QObject* parent)
    : QAbstractTableModel(parent), checks_(checks) {}

void FileListModel::ShowFolder(devices::CVolume* volume, FoundObject* folder) {
    beginResetModel();
    volume_ = volume;
    folder_ = folder;
    results_ = false;
    rows_.clear();
    if (volume_ != nullptr && folder_ != nullptr)
        rows_ = ChildrenOf(*volume_->FoundObjectTree, *folder_);
    if (filter_)
        std::erase_if(rows_, [this](const FoundObject* object) { return !filter_(*object); });
    SortRows();
    endResetModel();
}

void FileListModel::ShowResults(devices::CVolume* volume, std::vector<FoundObject*> objects) {
    beginResetModel();
    volume_ = volume;
    folder_ = nullptr;
    results_ = true;
    rows_ = std::move(objects);
    SortRows();
    endResetModel();
}

void FileListModel::AppendResults(const std::vector<FoundObject*>& objects) {
    if (objects.empty())
        return;
    const int first = static_cast<int>(rows_.size());
    beginInsertRows({}, first, first + static_cast<int>(objects.size()) - 1);
    rows_.insert(rows_.end(), objects.begin(), objects.end());
    endInsertRows();
}

void FileListModel::Clear() {
    ShowFolder(nullptr, nullptr);
}

void FileListModel::Refresh() {
    if (volume_ == nullptr || folder_ == nullptr)
        return;
    std::vector<FoundObject*> current = ChildrenOf(*volume_->FoundObjectTree, *folder_);
    if (filter_)
        std::erase_if(current, [this](const FoundObject* object) { return !filter_(*object); });
    const std::unordered_set<const FoundObject*> now(current.begin(), current.end());
    const bool moved = std::any_of(rows_.begin(), rows_.end(),
                                   [&now](const FoundObject* row) { return !now.count(row); });
    if (moved) {
        // An entry read late took over a file the scan had listed elsewhere: the list is
        // rebuilt rather than showing it in two places.
        beginResetModel();
        rows_ = std::move(current);
        SortRows();
        endResetModel();
        return;
    }
    if (current.size() == rows_.size())
        return;
    const std::unordered_set<const FoundObject*> shown(rows_.begin(), rows_.end());
    std::erase_if(current, [&shown](const FoundObject* object) { return shown.count(object); });
    AppendResults(current);
}

void FileListModel::RepaintChecks() {
    if (!rows_.empty())
        emit dataChanged(index(0, Name), index(rowCount() - 1, Name), {Qt::CheckStateRole});
}

FoundObject* FileListModel::ObjectAt(const QModelIndex& index) const {
    if (!index.isValid() || index.row() < 0 ||
        static_cast<std::size_t>(index.row()) >= rows_.size())
        return nullptr;
    return rows_[static_cast<std::size_t>(index.row())];
}

int FileListModel::RowOf(const FoundObject* object) const {
    const auto found = std::find(rows_.begin(), rows_.end(), object);
    return found == rows_.end() ? -1 : static_cast<int>(found - rows_.begin());
}

int FileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : (results_ ? 5 : 4);
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    const FoundObject* object = ObjectAt(index);
    if (object == nullptr || volume_ == nullptr)
        return {};
    const auto& tree = *volume_->FoundObjectTree;
    const bool folder = object->Is(ObjectFlags::Folder);
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
            case Name:
                return object->Is(ObjectFlags::Named)
                           ? QString::fromStdString(std::string(object->GetName()))
                           : QString();
            case Size:
                return SizeText(object->Size, folder);
            case Type:
                return QString::fromStdString(tree.GetTypeName(*object));
            case Modified:
                return LocalTimeText(object->Modified);
            case InFolder:
                return object->Is(ObjectFlags::Named)
                           ? QString::fromStdString(tree.GetFolderPath(*object))
                           : QString();
            default:
                return {};
        }
    }
    if (role == Qt::TextAlignmentRole && index.column() == Size)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (index.column() != Name)
        return {};
    if (role == Qt::DecorationRole)
        return ObjectIcon(*object, object == &volume_->FoundObjectTree->RootFolder());
    if (role == Qt::CheckStateRole) {
        switch (checks_.For(*volume_).State(*object)) {
            case CheckState::Checked:
                return Qt::Checked;
            case CheckState::Partial:
                return Qt::PartiallyChecked;
            case CheckState::Unchecked:
                return Qt::Unchecked;
        }
    }
    return {};
}

bool FileListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    FoundObject* object = ObjectAt(index);
    if (role != Qt::CheckStateRole || object == nullptr || volume_ == nullptr)
        return false;
    const auto changed =
        checks_.For(*volume_).Set(*object, value.value<Qt::CheckState>() == Qt::Checked);
    emit dataChanged(index, index, {Qt::CheckStateRole});
    emit ChecksChanged(volume_, changed);
    return true;
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
    if (ObjectAt(index) == nullptr)
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == Name)
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
        case Name:
            return tr("Name");
        case Size:
            return tr("Size");
        case Type:
            return tr("Type");
        case Modified:
            return tr("Date Modified");
        case InFolder:
            return tr("In Folder");
        default:
            return {};
    }
}

void FileListModel::sort(int column, Qt::SortOrder order) {
    sortColumn_ = column;
    sortOrder_ = order;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<FoundObject*> objects;
    objects.reserve(static_cast<std::size_t>(before.size()));
    for (const QModelIndex& index : before)
        objects.push_back(ObjectAt(index));
    SortRows();
    QModelIndexList after;
    after.reserve(before.size());
    for (std::size_t i = 0; i < objects.size(); ++i) {
        const int row = RowOf(objects[i]);
        after.push_back(row < 0 ? QModelIndex() : index(row, before[static_cast<int>(i)].column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void FileListModel::SortRows() {
    if (sortColumn_ < 0 || rows_.size() < 2)
        return;
    const auto& tree = *volume_->FoundObjectTree;
    const auto nameLess = [](const FoundObject* a, const FoundObject* b) {
        const std::string_view left = a->GetName();
        const std::string_view right = b->GetName();
        const int order =
            ::strncasecmp(left.data(), right.data(), std::min(left.size(), right.size()));
        return order != 0 ? order < 0 : left.size() < right.size();
    };
    std::vector<std::pair<std::string, FoundObject*>> keyed;
    switch (sortColumn_) {
        case Size:
            std::stable_sort(
                rows_.begin(), rows_.end(),
                [](const FoundObject* a, const FoundObject* b) { return a->Size < b->Size; });
            break;
        case Modified:
            std::stable_sort(rows_.begin(), rows_.end(),
                             [](const FoundObject* a, const FoundObject* b) {
                                 return a->Modified < b->Modified;
                             });
            break;
        case Type:
        case InFolder:
            // The texts are built once, not once per comparison.
            keyed.reserve(rows_.size());
            for (FoundObject* object : rows_) {
                std::string key =
                    sortColumn_ == Type ? tree.GetTypeName(*object) : tree.GetFolderPath(*object);
                for (char& c : key)
                    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                keyed.emplace_back(std::move(key), object);
            }
            std::stable_sort(keyed.begin(), keyed.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
            for (std::size_t i = 0; i < keyed.size(); ++i)
                rows_[i] = keyed[i].second;
            break;
        default:
            std::stable_sort(rows_.begin(), rows_.end(), nameLess);
            break;
    }
    if (sortOrder_ == Qt::DescendingOrder)
        std::reverse(rows_.begin(), rows_.end());
}

}  // namespace duzez::ui
