#include "ui/explorer/files_tree_model.h"

#include <algorithm>

#include "devices/local_computer.h"
#include "ui/explorer/object_walk.h"
#include "ui/icons.h"

namespace duzez::ui {

using devices::CVolume;
using filesystems::FoundObject;

struct FilesTreeModel::Node {
    Node* parent = nullptr;
    int row = 0;
    CVolume* volume = nullptr;      // the drive node, or the volume whose tree holds object
    FoundObject* object = nullptr;  // null for drive nodes
    std::vector<std::unique_ptr<Node>> children;
    bool fetched = false;
    bool trash = false;  // the desktop's Trash, which is no volume
};

namespace {

Qt::CheckState ToQt(CheckState state) {
    switch (state) {
        case CheckState::Checked:
            return Qt::Checked;
        case CheckState::Partial:
            return Qt::PartiallyChecked;
        case CheckState::Unchecked:
            break;
    }
    return Qt::Unchecked;
}

}  // namespace

FilesTreeModel::FilesTreeModel(devices::CLocalComputer& computer, VolumeChecks& checks,
                               QObject* parent)
    : QAbstractItemModel(parent), computer_(computer), checks_(checks) {
    RebuildDrives();
}

FilesTreeModel::~FilesTreeModel() = default;

void FilesTreeModel::RebuildDrives() {
    beginResetModel();
    root_ = std::make_unique<Node>();
    root_->children = ChildrenFor(*root_);
    root_->fetched = true;
    // Forget what the list no longer holds: a rescan may have dropped volumes.
    std::unordered_set<const CVolume*> listed;
    for (const auto& volume : computer_.Volumes().Snapshot())
        listed.insert(volume.get());
    std::erase_if(analysed_, [&listed](const CVolume* volume) { return !listed.count(volume); });
    endResetModel();
}

void FilesTreeModel::SetFilter(std::function<bool(const FoundObject&)> filter) {
    filter_ = std::move(filter);
    RebuildDrives();
}

void FilesTreeModel::BeginAnalysis(CVolume& volume) {
    checks_.Forget(volume);
    analysed_.insert(&volume);
    const QModelIndex index = IndexOf(volume);
    Node* node = NodeAt(index);
    if (node == nullptr || node == root_.get())
        return;
    // Its found folders go (their objects are freed); its volumes stay.
    const auto first = std::find_if(node->children.begin(), node->children.end(),
                                    [](const auto& child) { return child->object != nullptr; });
    if (first != node->children.end()) {
        const int from = static_cast<int>(first - node->children.begin());
        beginRemoveRows(index, from, static_cast<int>(node->children.size()) - 1);
        node->children.erase(first, node->children.end());
        endRemoveRows();
    }
    emit dataChanged(index, index);
}

std::vector<std::unique_ptr<FilesTreeModel::Node>> FilesTreeModel::ChildrenFor(
    const Node& node) const {
    std::vector<std::unique_ptr<Node>> children;
    const auto add = [&children, &node](CVolume* volume, FoundObject* object) {
        auto child = std::make_unique<Node>();
        child->parent = const_cast<Node*>(&node);
        child->row = static_cast<int>(children.size());
        child->volume = volume;
        child->object = object;
        children.push_back(std::move(child));
    };
    if (node.volume == nullptr) {
        if (node.trash)
            return children;
        add(&computer_.ComputerRoot(), nullptr);
        add(&computer_.ImagesRoot(), nullptr);
        add(nullptr, nullptr);
        children.back()->trash = true;
        children.back()->fetched = true;
        return children;
    }
    const auto volumes = computer_.Volumes().Snapshot();
    if (node.object == nullptr) {
        for (const auto& volume : volumes) {
            if (volume.get() != node.volume && volume->ParentId == node.volume->Id)
                add(volume.get(), nullptr);
        }
    }
    if (!IsAnalysed(*node.volume))
        return children;
    const FoundObject& folder = node.object != nullptr ? *node.object : node.volume->TreeNode;
    std::unordered_set<const FoundObject*> volumeNodes;
    for (const auto& volume : volumes)
        volumeNodes.insert(&volume->TreeNode);
    for (FoundObject* child : ChildrenOf(*node.volume->FoundObjectTree, folder)) {
        if (child->Is(filesystems::ObjectFlags::Folder) && !volumeNodes.count(child) &&
            (!filter_ || filter_(*child))) {
            add(node.volume, child);
        }
    }
    return children;
}

FilesTreeModel::Node* FilesTreeModel::NodeAt(const QModelIndex& index) const {
    return index.isValid() ? static_cast<Node*>(index.internalPointer()) : root_.get();
}

QModelIndex FilesTreeModel::IndexOfNode(const Node* node) const {
    if (node == nullptr || node == root_.get())
        return {};
    return createIndex(node->row, 0, const_cast<Node*>(node));
}

QModelIndex FilesTreeModel::index(int row, int column, const QModelIndex& parent) const {
    const Node* node = NodeAt(parent);
    if (node == nullptr || column != 0 || row < 0 ||
        static_cast<std::size_t>(row) >= node->children.size()) {
        return {};
    }
    return createIndex(row, column, node->children[static_cast<std::size_t>(row)].get());
}

QModelIndex FilesTreeModel::parent(const QModelIndex& child) const {
    const Node* node = NodeAt(child);
    if (node == nullptr || node == root_.get())
        return {};
    return IndexOfNode(node->parent);
}

int FilesTreeModel::rowCount(const QModelIndex& parent) const {
    const Node* node = NodeAt(parent);
    return node != nullptr ? static_cast<int>(node->children.size()) : 0;
}

int FilesTreeModel::columnCount(const QModelIndex&) const {
    return 1;
}

bool FilesTreeModel::hasChildren(const QModelIndex& parent) const {
    const Node* node = NodeAt(parent);
    if (node == nullptr || node->trash)
        return false;
    if (node->fetched || node == root_.get())
        return !node->children.empty();
    if (node->object == nullptr)
        return true;  // a drive: its volumes or, once analysed, its folders
    return node->object->Is(filesystems::ObjectFlags::Folder);
}

bool FilesTreeModel::canFetchMore(const QModelIndex& parent) const {
    const Node* node = NodeAt(parent);
    return node != nullptr && !node->fetched;
}

void FilesTreeModel::fetchMore(const QModelIndex& parent) {
    Node* node = NodeAt(parent);
    if (node == nullptr || node->fetched)
        return;
    node->fetched = true;
    auto children = ChildrenFor(*node);
    if (children.empty())
        return;
    beginInsertRows(parent, 0, static_cast<int>(children.size()) - 1);
    node->children = std::move(children);
    endInsertRows();
}

void FilesTreeModel::AppendNew(Node& node) {
    auto fresh = ChildrenFor(node);
    std::unordered_set<const void*> present;
    for (const auto& child : node.children)
        present.insert(child->object != nullptr ? static_cast<const void*>(child->object)
                                                : static_cast<const void*>(child->volume));
    std::vector<std::unique_ptr<Node>> added;
    for (auto& child : fresh) {
        const void* key = child->object != nullptr ? static_cast<const void*>(child->object)
                                                   : static_cast<const void*>(child->volume);
        if (!present.count(key))
            added.push_back(std::move(child));
    }
    if (added.empty())
        return;
    const int first = static_cast<int>(node.children.size());
    beginInsertRows(IndexOfNode(&node), first, first + static_cast<int>(added.size()) - 1);
    for (auto& child : added) {
        child->row = static_cast<int>(node.children.size());
        node.children.push_back(std::move(child));
    }
    endInsertRows();
}

void FilesTreeModel::RefreshOpened(Node& node) {
    if (!node.fetched)
        return;
    AppendNew(node);
    for (const auto& child : node.children)
        RefreshOpened(*child);
}

void FilesTreeModel::Refresh() {
    RefreshOpened(*root_);
}

CVolume* FilesTreeModel::VolumeAt(const QModelIndex& index) const {
    const Node* node = NodeAt(index);
    return node != nullptr && node != root_.get() ? node->volume : nullptr;
}

bool FilesTreeModel::IsTrash(const QModelIndex& index) const {
    const Node* node = NodeAt(index);
    return node != nullptr && node->trash;
}

QModelIndex FilesTreeModel::TrashIndex() const {
    for (const auto& child : root_->children) {
        if (child->trash)
            return IndexOfNode(child.get());
    }
    return {};
}

void FilesTreeModel::SetTrashFull(bool full) {
    if (trashFull_ == full)
        return;
    trashFull_ = full;
    const QModelIndex trash = TrashIndex();
    emit dataChanged(trash, trash, {Qt::DecorationRole});
}

FoundObject* FilesTreeModel::ObjectAt(const QModelIndex& index) const {
    const Node* node = NodeAt(index);
    return node != nullptr ? node->object : nullptr;
}

QModelIndex FilesTreeModel::IndexOf(const CVolume& volume) const {
    std::vector<Node*> pending{root_.get()};
    while (!pending.empty()) {
        Node* node = pending.back();
        pending.pop_back();
        if (node != root_.get() && node->volume == &volume && node->object == nullptr)
            return IndexOfNode(node);
        if (node->trash)
            continue;
        if (!node->fetched)
            const_cast<FilesTreeModel*>(this)->fetchMore(IndexOfNode(node));
        for (const auto& child : node->children) {
            if (child->object == nullptr)
                pending.push_back(child.get());
        }
    }
    return {};
}

FilesTreeModel::Node* FilesTreeModel::FindNode(Node& from, const FoundObject* object) const {
    if (from.object == object)
        return &from;
    for (const auto& child : from.children) {
        if (Node* found = FindNode(*child, object))
            return found;
    }
    return nullptr;
}

QModelIndex FilesTreeModel::IndexOf(const CVolume& volume, const FoundObject& object) {
    Node* volumeNode = NodeAt(IndexOf(volume));
    if (volumeNode == nullptr || volumeNode == root_.get())
        return {};
    if (&object == &volume.TreeNode)
        return IndexOfNode(volumeNode);
    // Open the chain of folders down to the object.
    std::vector<const FoundObject*> chain{&object};
    const auto& tree = *volume.FoundObjectTree;
    while (chain.size() < 4096) {
        const FoundObject* parent = ParentOf(tree, *chain.back(), &volume.TreeNode);
        if (parent == nullptr || parent == &volume.TreeNode)
            break;
        chain.push_back(parent);
    }
    Node* node = volumeNode;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        fetchMore(IndexOfNode(node));
        const auto child =
            std::find_if(node->children.begin(), node->children.end(),
                         [it](const auto& candidate) { return candidate->object == *it; });
        if (child == node->children.end())
            return {};
        node = child->get();
    }
    return IndexOfNode(node);
}

QVariant FilesTreeModel::data(const QModelIndex& index, int role) const {
    const Node* node = NodeAt(index);
    if (node == nullptr || node == root_.get())
        return {};
    const bool isObject = node->object != nullptr;
    if (node->trash) {
        if (role == Qt::DisplayRole)
            return tr("Trash");
        if (role == Qt::DecorationRole)
            return ThemeIcon(trashFull_ ? "user-trash-full" : "user-trash");
        return {};
    }
    switch (role) {
        case Qt::DisplayRole:
            if (isObject)
                return QString::fromStdString(std::string(node->object->GetName()));
            if (node->volume->VolumeType == devices::VolumeKind::ComputerRoot)
                return QString::fromStdString(
                    computer_.App().Languages().GetString(core::StringId::MyComputer));
            if (node->volume->VolumeType == devices::VolumeKind::ImagesRoot)
                return QString::fromStdString(
                    computer_.App().Languages().GetString(core::StringId::DriveImages));
            return QString::fromStdString(node->volume->DisplayNameText());
        case Qt::DecorationRole:
            return isObject
                       ? ObjectIcon(*node->object,
                                    node->object == &node->volume->FoundObjectTree->RootFolder())
                       : VolumeIcon(*node->volume);
        case Qt::CheckStateRole: {
            if (node->volume == nullptr || !IsAnalysed(*node->volume))
                return {};
            const FoundObject& object = isObject ? *node->object : node->volume->TreeNode;
            return ToQt(checks_.For(*node->volume).State(object));
        }
        default:
            return {};
    }
}

void FilesTreeModel::ObjectChecksChanged(CVolume& volume,
                                         const std::vector<const FoundObject*>& objects) {
    Node* volumeNode = NodeAt(IndexOf(volume));
    if (volumeNode == nullptr || volumeNode == root_.get())
        return;
    emit dataChanged(IndexOfNode(volumeNode), IndexOfNode(volumeNode), {Qt::CheckStateRole});
    for (const FoundObject* object : objects) {
        if (Node* node = FindNode(*volumeNode, object)) {
            const QModelIndex at = IndexOfNode(node);
            emit dataChanged(at, at, {Qt::CheckStateRole});
        }
    }
    // Everything opened below the volume may inherit the new state.
    std::vector<Node*> pending{volumeNode};
    while (!pending.empty()) {
        Node* node = pending.back();
        pending.pop_back();
        if (node->children.empty())
            continue;
        emit dataChanged(IndexOfNode(node->children.front().get()),
                         IndexOfNode(node->children.back().get()), {Qt::CheckStateRole});
        for (const auto& child : node->children)
            pending.push_back(child.get());
    }
}

bool FilesTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    Node* node = NodeAt(index);
    if (role != Qt::CheckStateRole || node == nullptr || node == root_.get() ||
        node->volume == nullptr || !IsAnalysed(*node->volume)) {
        return false;
    }
    const FoundObject& object = node->object != nullptr ? *node->object : node->volume->TreeNode;
    const bool checked = value.value<Qt::CheckState>() == Qt::Checked;
    const auto changed = checks_.For(*node->volume).Set(object, checked);
    ObjectChecksChanged(*node->volume, changed);
    emit ChecksChanged();
    return true;
}

Qt::ItemFlags FilesTreeModel::flags(const QModelIndex& index) const {
    const Node* node = NodeAt(index);
    if (node == nullptr || node == root_.get())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (node->volume != nullptr && IsAnalysed(*node->volume))
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

}  // namespace duzez::ui
