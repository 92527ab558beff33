#pragma once

// Opening a file with the desktop's associated application.

#include <filesystem>

namespace duzez::platform {

enum class ShellOpenStatus {
    Opened,
    NoAssociatedApplication,  // nothing on this desktop handles the file (or no xdg-open)
    Failed,
};

struct ShellOpenResult {
    ShellOpenStatus status = ShellOpenStatus::Failed;
    int code = 0;  // the opener's exit status or errno, for the log
};

class ShellOpener {
  public:
    virtual ~ShellOpener() = default;
    virtual ShellOpenResult Open(const std::filesystem::path& file) = 0;
};

// Runs xdg-open. A launcher still running after a short wait counts as opened: some
// handlers stay in the foreground; the child is reaped in the background.
class XdgOpener : public ShellOpener {
  public:
    ShellOpenResult Open(const std::filesystem::path& file) override;
};

}  // namespace duzez::platform
