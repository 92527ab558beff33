#pragma once

// The one top-level window and the moves between interface modes: SwitchMode closes the
// window shown without the exit sequence and opens the next at the stored placement;
// RequestExit asks (when the setting says so), stores the placement and ends the loop.

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

namespace duzez::core {
class CApp;
}
namespace duzez::devices {
class CLocalComputer;
}

namespace duzez::ui {

class Questions;

class InterfaceModes {
  public:
    InterfaceModes(core::CApp& app, devices::CLocalComputer& computer, Questions& questions);

    // Opens the window of the mode `command` (0: the stored one): 32874 the 4-step wizard,
    // 32840 the 9-step wizard, any other the explorer; false when it could not be made.
    bool SwitchMode(int command);
    // False when the user declines.
    bool RequestExit(QWidget* window);
    // The interface language changed: the window is made again, in the new language
    // (later, from the event loop, as the settings sheet that changed it may still be
    // on the screen).
    void RebuildForLanguage();
    QWidget* Current() const { return current_; }
    // Whether the current window is being replaced: its close is no exit.
    bool Switching() const { return switching_; }

    // The stored placement applied to `window`, fitted to the available screen.
    void Place(QWidget& window) const;
    void StorePlacement(const QWidget& window);

    core::CApp& App() { return app_; }
    devices::CLocalComputer& Computer() { return computer_; }
    Questions& Ask() { return questions_; }

  private:
    core::CApp& app_;
    devices::CLocalComputer& computer_;
    Questions& questions_;
    QPointer<QWidget> current_;
    bool switching_ = false;
};

}  // namespace duzez::ui
