#include "ui/explorer/check_marks.h"

#include <algorithm>

namespace duzez::ui {

using filesystems::FoundObject;

namespace {
// Parents come from the disk: a chain that loops must still end.
constexpr std::size_t kMaxDepth = 4096;
}  // namespace

CheckMarks::CheckMarks(ParentFunction parentOf) : parentOf_(std::move(parentOf)) {}

std::vector<const FoundObject*> CheckMarks::Ancestors(const FoundObject& object) const {
    std::vector<const FoundObject*> ancestors;
    for (const FoundObject* parent = parentOf_(object);
         parent != nullptr && ancestors.size() < kMaxDepth; parent = parentOf_(*parent)) {
        if (parent == &object ||
            std::find(ancestors.begin(), ancestors.end(), parent) != ancestors.end()) {
            break;
        }
        ancestors.push_back(parent);
    }
    return ancestors;
}

bool CheckMarks::IsChecked(const FoundObject& object) const {
    if (const auto mark = marks_.find(&object); mark != marks_.end())
        return mark->second;
    if (marks_.empty())
        return false;
    for (const FoundObject* ancestor : Ancestors(object)) {
        if (const auto mark = marks_.find(ancestor); mark != marks_.end())
            return mark->second;
    }
    return false;
}

CheckState CheckMarks::State(const FoundObject& object) const {
    if (const auto below = marksBelow_.find(&object); below != marksBelow_.end())
        return CheckState::Partial;
    return IsChecked(object) ? CheckState::Checked : CheckState::Unchecked;
}

void CheckMarks::AddMark(const FoundObject& object, bool checked) {
    marks_[&object] = checked;
    for (const FoundObject* ancestor : Ancestors(object))
        ++marksBelow_[ancestor];
}

void CheckMarks::RemoveMark(const FoundObject& object) {
    if (marks_.erase(&object) == 0)
        return;
    for (const FoundObject* ancestor : Ancestors(object)) {
        const auto below = marksBelow_.find(ancestor);
        if (below != marksBelow_.end() && --below->second == 0)
            marksBelow_.erase(below);
    }
}

std::vector<const FoundObject*> CheckMarks::Set(const FoundObject& object, bool checked) {
    // Marks below say nothing once the whole subtree is set.
    if (marksBelow_.count(&object) != 0) {
        std::vector<const FoundObject*> below;
        for (const auto& [marked, value] : marks_) {
            const auto ancestors = Ancestors(*marked);
            if (std::find(ancestors.begin(), ancestors.end(), &object) != ancestors.end())
                below.push_back(marked);
        }
        for (const FoundObject* marked : below)
            RemoveMark(*marked);
    }
    RemoveMark(object);
    const FoundObject* parent = parentOf_(object);
    const bool inherited = parent != nullptr && parent != &object && IsChecked(*parent);
    if (checked != inherited)
        AddMark(object, checked);
    std::vector<const FoundObject*> changed{&object};
    for (const FoundObject* ancestor : Ancestors(object))
        changed.push_back(ancestor);
    return changed;
}

std::vector<const FoundObject*> CheckMarks::Toggle(const FoundObject& object) {
    return Set(object, State(object) != CheckState::Checked);
}

void CheckMarks::Clear() {
    marks_.clear();
    marksBelow_.clear();
}

}  // namespace duzez::ui
