#pragma once

// "Recover": where the recovered files go, whether their folders come along, and the
// warning never to write them to the drive they come from.

#include <QDialog>

class QCheckBox;
class QLineEdit;

namespace duzez::core {
class CApp;
}

namespace duzez::ui {

class RecoverDialog : public QDialog {
    Q_OBJECT

  public:
    RecoverDialog(core::CApp& app, QWidget* parent = nullptr);

    QString Destination() const;
    void SetDestination(const QString& folder);

    void accept() override;

  private:
    core::CApp& app_;
    QLineEdit* folder_ = nullptr;
    QCheckBox* keepFolders_ = nullptr;
};

}  // namespace duzez::ui
