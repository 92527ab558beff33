#pragma once

// The check marks of every analysed volume, shared by the files tree and the file list so
// both show one state.

#include <memory>
#include <unordered_map>
#include <vector>

#include "ui/explorer/check_marks.h"

namespace duzez::devices {
class CVolume;
}

namespace duzez::ui {

class VolumeChecks {
  public:
    CheckMarks& For(devices::CVolume& volume);
    // Before the volume is analysed again: its objects are about to be freed.
    void Forget(const devices::CVolume& volume);
    // Every checked file of the volume, folders left out, in tree order.
    std::vector<filesystems::FoundObject*> CheckedFiles(devices::CVolume& volume);
    // The analysed volumes that have a check mark.
    std::vector<devices::CVolume*> VolumesWithMarks() const;

  private:
    std::unordered_map<const devices::CVolume*, std::unique_ptr<CheckMarks>> marks_;
};

}  // namespace duzez::ui
