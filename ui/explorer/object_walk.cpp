#include "ui/explorer/object_walk.h"

namespace duzez::ui {

using filesystems::FoundObject;

std::vector<FoundObject*> ChildrenOf(const filesystems::FoundObjectTree& tree,
                                     const FoundObject& folder) {
    std::vector<FoundObject*> children;
    if (!folder.Is(filesystems::ObjectFlags::Folder) || tree.FolderWithId(folder.Id) != &folder)
        return children;
    tree.GetChildren(folder.Id, children);
    // A folder never lies in itself (a root whose parent id is its own).
    std::erase(children, &folder);
    return children;
}

const FoundObject* ParentOf(const filesystems::FoundObjectTree& tree, const FoundObject& object,
                            const FoundObject* top) {
    if (&object == top)
        return nullptr;
    const FoundObject* parent = tree.FolderWithId(object.ParentId);
    return parent == &object ? nullptr : parent;
}

}  // namespace duzez::ui
