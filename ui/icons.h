#pragma once

// The icons of the windows: the desktop theme's where it has them, else ones drawn here,
// so the program looks the same on a bare desktop or under a test server.

#include <QIcon>

namespace duzez::devices {
class CVolume;
}
namespace duzez::filesystems {
struct FoundObject;
}

namespace duzez::ui {

// A theme icon by its freedesktop name.
QIcon ThemeIcon(const char* name);
// The icon of a found object (live or deleted file, found by signature, folder kinds).
QIcon ObjectIcon(const filesystems::FoundObject& object, bool fileSystemRoot);
// The icon of a drive-tree node by the volume's kind and medium.
QIcon VolumeIcon(const devices::CVolume& volume);

}  // namespace duzez::ui
