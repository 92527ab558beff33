#pragma once

// The check marks of the files tree and list. A mark is what the user last set on an
// object; every object without a mark of its own takes its nearest marked folder's, so
// checking a folder checks everything below it at once, and objects the views have not
// even fetched yet follow. Each folder counts the marks below it: a folder with marks below
// differs somewhere inside and shows partly checked. A toggle costs the tree's depth (and
// the marks it makes pointless), never the number of objects below.

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

#include "filesystems/found_object.h"

namespace duzez::ui {

enum class CheckState { Unchecked = 1, Checked = 2, Partial = 3 };

class CheckMarks {
  public:
    using ParentFunction =
        std::function<const filesystems::FoundObject*(const filesystems::FoundObject&)>;
    explicit CheckMarks(ParentFunction parentOf);

    CheckState State(const filesystems::FoundObject& object) const;
    bool IsChecked(const filesystems::FoundObject& object) const;

    // Checks or unchecks the object with everything below it; returns the object and its
    // ancestors, whose states may have changed.
    std::vector<const filesystems::FoundObject*> Set(const filesystems::FoundObject& object,
                                                     bool checked);
    // Checked becomes unchecked; unchecked and partly checked become checked.
    std::vector<const filesystems::FoundObject*> Toggle(const filesystems::FoundObject& object);
    void Clear();

    // The marks: object -> checked. A checked mark stands for its whole subtree, except
    // where a mark below says otherwise.
    const std::unordered_map<const filesystems::FoundObject*, bool>& Marks() const {
        return marks_;
    }

  private:
    std::vector<const filesystems::FoundObject*> Ancestors(
        const filesystems::FoundObject& object) const;
    void AddMark(const filesystems::FoundObject& object, bool checked);
    void RemoveMark(const filesystems::FoundObject& object);

    ParentFunction parentOf_;
    std::unordered_map<const filesystems::FoundObject*, bool> marks_;
    std::unordered_map<const filesystems::FoundObject*, std::uint32_t> marksBelow_;
};

}  // namespace duzez::ui
