#pragma once

// The rows of the volume information list: property name and value, in the window's
// language.

#include <QString>
#include <utility>
#include <vector>

namespace duzez::core {
class CLanguages;
}
namespace duzez::devices {
class CVolume;
}

namespace duzez::ui {

// "Ready", "Analyzing", "Information request" or "Not Ready".
QString VolumeStateText(const devices::CVolume& volume, const core::CLanguages& texts);

std::vector<std::pair<QString, QString>> VolumeInformation(const devices::CVolume& volume,
                                                           const core::CLanguages& texts);

}  // namespace duzez::ui
