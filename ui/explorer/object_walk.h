#pragma once

// How the views walk a found-object tree: a folder's children are the objects whose parent
// resolves to that very folder, so a deleted folder that shares its id with a live one
// (a FAT cluster used again) does not show the live one's files.

#include <vector>

#include "filesystems/found_object_tree.h"

namespace duzez::ui {

std::vector<filesystems::FoundObject*> ChildrenOf(const filesystems::FoundObjectTree& tree,
                                                  const filesystems::FoundObject& folder);

// The folder `object` lies in; null for the top (`top`, the volume's own node) and for an
// object whose parent is not in the tree.
const filesystems::FoundObject* ParentOf(const filesystems::FoundObjectTree& tree,
                                         const filesystems::FoundObject& object,
                                         const filesystems::FoundObject* top);

}  // namespace duzez::ui
