#pragma once

// The "Warning!" shown before "Try to open" hands a recovered file to another program.

#include <QDialog>

class QCheckBox;

namespace duzez::core {
class CApp;
}

namespace duzez::ui {

class TryOpenWarning : public QDialog {
    Q_OBJECT

  public:
    TryOpenWarning(core::CApp& app, QWidget* parent = nullptr);

    QCheckBox* DontShowAgain() const { return dontShow_; }
    // OK: the check box goes into the setting.
    void accept() override;

  private:
    core::CApp& app_;
    QCheckBox* dontShow_ = nullptr;
};

// Whether "Try to open" may go on: true at once when the user asked not to be warned,
// else the warning's answer.
bool ConfirmTryOpen(core::CApp& app, QWidget* parent);

}  // namespace duzez::ui
