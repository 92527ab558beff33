#include "ui/explorer/volume_checks.h"

#include "devices/volume.h"
#include "ui/explorer/object_walk.h"

namespace duzez::ui {

using filesystems::FoundObject;

CheckMarks& VolumeChecks::For(devices::CVolume& volume) {
    auto& marks = marks_[&volume];
    if (!marks) {
        marks = std::make_unique<CheckMarks>([&volume](const FoundObject& object) {
            return ParentOf(*volume.FoundObjectTree, object, &volume.TreeNode);
        });
    }
    return *marks;
}

void VolumeChecks::Forget(const devices::CVolume& volume) {
    marks_.erase(&volume);
}

std::vector<FoundObject*> VolumeChecks::CheckedFiles(devices::CVolume& volume) {
    std::vector<FoundObject*> files;
    const auto found = marks_.find(&volume);
    if (found == marks_.end())
        return files;
    const CheckMarks& marks = *found->second;
    const auto& tree = *volume.FoundObjectTree;
    // Each checked mark stands for its subtree; a mark below it is visited on its own.
    std::vector<FoundObject*> pending;
    for (const auto& [object, checked] : marks.Marks()) {
        if (checked)
            pending.push_back(const_cast<FoundObject*>(object));
    }
    std::size_t visited = 0;
    const std::size_t limit = tree.ObjectCount() + 1;  // a looping tree still ends
    while (!pending.empty() && visited++ < limit * 2) {
        FoundObject* object = pending.back();
        pending.pop_back();
        if (!object->Is(filesystems::ObjectFlags::Folder)) {
            files.push_back(object);
            continue;
        }
        for (FoundObject* child : ChildrenOf(tree, *object)) {
            if (marks.Marks().count(child) == 0)
                pending.push_back(child);
        }
    }
    return files;
}

std::vector<devices::CVolume*> VolumeChecks::VolumesWithMarks() const {
    std::vector<devices::CVolume*> volumes;
    for (const auto& [volume, marks] : marks_) {
        for (const auto& [object, checked] : marks->Marks()) {
            if (checked) {
                volumes.push_back(const_cast<devices::CVolume*>(volume));
                break;
            }
        }
    }
    return volumes;
}

}  // namespace duzez::ui
