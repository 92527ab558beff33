#pragma once

// What the start of the desktop program needs beyond the engine: whether raw drives can be
// read at all, the splash window, and the demo card.

#include <QWidget>
#include <filesystem>
#include <optional>
#include <vector>

namespace duzez::ui {

// Drives can be read as root, in the `disk` group, or through udisks2 or the pkexec helper.
bool MayReadDrives(unsigned effectiveUid, const std::vector<unsigned>& groups,
                   std::optional<unsigned> diskGroup, bool udisks);
// The same for this process.
bool ThisUserMayReadDrives();

// A frameless window with the program's name that closes itself after `lifetimeMs` or at
// the first click.
class Splash : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kLifetimeMs = 2511;
    explicit Splash(int lifetimeMs = kLifetimeMs);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
};

// The demo camera card unpacked into the user's cache folder; nullopt with `error` set
// when it is not installed or cannot be unpacked.
std::optional<std::filesystem::path> UnpackDemoCard(std::string& error);

}  // namespace duzez::ui
