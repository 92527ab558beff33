#pragma once

// "Recovering files...": the files done of all, the current file and its progress, every
// 250 ms; Abort (asking first when the setting says so) gives way to OK and "Go to
// Recovered..." when the recovery thread ends.

#include <QDialog>
#include <QTimer>

class QLabel;
class QProgressBar;
class QPushButton;

namespace duzez::core {
class CApp;
}
namespace duzez::recovery {
class CRecovery;
}

namespace duzez::ui {

class Questions;

class RecoveryProgressDialog : public QDialog {
    Q_OBJECT

  public:
    RecoveryProgressDialog(recovery::CRecovery& engine, core::CApp& app, Questions& questions,
                           QString destination, QWidget* parent = nullptr);

    bool Finished() const { return finished_; }
    // Refreshes the figures now (the timer does it every 250 ms).
    void Update();
    void Abort();

  signals:
    void RecoveryFinished();

  protected:
    void reject() override;

  private:
    recovery::CRecovery& engine_;
    core::CApp& app_;
    Questions& questions_;
    QString destination_;
    QTimer timer_;
    QLabel* total_ = nullptr;
    QProgressBar* totalBar_ = nullptr;
    QLabel* current_ = nullptr;
    QProgressBar* fileBar_ = nullptr;
    QLabel* summary_ = nullptr;
    QPushButton* abort_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* show_ = nullptr;
    bool finished_ = false;
};

}  // namespace duzez::ui
