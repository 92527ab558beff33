#pragma once

// The settings sheet: seven pages over the settings record. The pages keep their own copy
// of the fields; OK and Apply check every number first and store nothing unless all fit.

#include <QAbstractSpinBox>
#include <QDialog>
#include <cstdint>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QStackedWidget;

namespace duzez::core {
class CApp;
}
namespace duzez::devices {
class CLocalComputer;
}

namespace duzez::ui {

class FileTypesTree;
class Questions;

// A whole number typed freely: the arrows keep to the range, the text may leave it, and
// whoever stores the value checks InRange first.
class NumberBox : public QAbstractSpinBox {
    Q_OBJECT

  public:
    NumberBox(std::int64_t minimum, std::int64_t maximum, QWidget* parent = nullptr);

    std::optional<std::int64_t> Value() const;  // nothing when the text is no number
    void SetValue(std::int64_t value);
    bool InRange() const;
    QLineEdit* Edit() const { return lineEdit(); }
    std::int64_t Minimum() const { return minimum_; }
    std::int64_t Maximum() const { return maximum_; }

    void stepBy(int steps) override;
    QValidator::State validate(QString& input, int& position) const override;

  protected:
    StepEnabled stepEnabled() const override;

  private:
    std::int64_t minimum_;
    std::int64_t maximum_;
};

class SettingsSheet : public QDialog {
    Q_OBJECT

  public:
    enum Page : int {
        kCommon = 0,
        kConfirmations = 1,
        kFileTypes = 2,
        kTemporary = 3,
        kDriveAccess = 4,
        kLogging = 5,
        kLanguage = 6,
    };
    static constexpr int kPageCount = 7;

    // Opens on `page` (clamped to the pages there are).
    SettingsSheet(core::CApp& app, devices::CLocalComputer& computer, Questions& questions,
                  int page, QWidget* parent = nullptr);

    int CurrentPage() const;
    void SetCurrentPage(int page);
    QString PageTitle(int page) const;

    // Every page into the settings record (and the search marks into the formats); false,
    // with the offending page shown and nothing stored, when a number is out of range.
    bool Apply();
    void accept() override;

    // The controls, for the menu commands' callers and the tests.
    QCheckBox* ShowSplash() const { return showSplash_; }
    QCheckBox* ConfirmShutdown() const { return confirmShutdown_; }
    QCheckBox* ConfirmScanAbort() const { return confirmScanAbort_; }
    QCheckBox* ConfirmRecoveryAbort() const { return confirmRecoveryAbort_; }
    QCheckBox* NoTryOpenWarning() const { return noTryOpenWarning_; }
    FileTypesTree* SearchTypes() const { return searchTypes_; }
    QRadioButton* SystemTemp() const { return systemTemp_; }
    QRadioButton* CustomTemp() const { return customTemp_; }
    QLineEdit* TempFolder() const { return tempFolder_; }
    QPushButton* BrowseTemp() const { return browseTemp_; }
    NumberBox* RetryAttempts() const { return retryAttempts_; }
    NumberBox* RetryPause() const { return retryPause_; }
    QCheckBox* SaveLog() const { return saveLog_; }
    QLineEdit* LogFileName() const { return logFileName_; }
    NumberBox* LogFileSize() const { return logFileSize_; }
    QCheckBox* ClearLog() const { return clearLog_; }
    QCheckBox* DebugLog() const { return debugLog_; }
    QComboBox* Languages() const { return languages_; }
    QPushButton* ApplyButton() const { return applyButton_; }

  private:
    QWidget* MakeCommonPage();
    QWidget* MakeConfirmationsPage();
    QWidget* MakeFileTypesPage();
    QWidget* MakeTemporaryPage();
    QWidget* MakeDriveAccessPage();
    QWidget* MakeLoggingPage();
    QWidget* MakeLanguagePage();
    void AddPage(QWidget* page, const char* section, const QString& title, const char* icon);
    void UpdateEnabled();
    // The first box out of its range, shown and reported; true when all fit.
    bool CheckNumbers();
    QString Translated(const char* section, const QString& fallback) const;

    core::CApp& app_;
    devices::CLocalComputer& computer_;
    Questions& questions_;

    QListWidget* pageList_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QCheckBox* showSplash_ = nullptr;
    QCheckBox* confirmShutdown_ = nullptr;
    QCheckBox* confirmScanAbort_ = nullptr;
    QCheckBox* confirmRecoveryAbort_ = nullptr;
    QCheckBox* noTryOpenWarning_ = nullptr;
    FileTypesTree* searchTypes_ = nullptr;
    QRadioButton* systemTemp_ = nullptr;
    QRadioButton* customTemp_ = nullptr;
    QLineEdit* tempFolder_ = nullptr;
    QPushButton* browseTemp_ = nullptr;
    NumberBox* retryAttempts_ = nullptr;
    NumberBox* retryPause_ = nullptr;
    QCheckBox* saveLog_ = nullptr;
    QLabel* logFileNameLabel_ = nullptr;
    QLineEdit* logFileName_ = nullptr;
    QLabel* logFileSizeLabel_ = nullptr;
    NumberBox* logFileSize_ = nullptr;
    QLabel* logFileSizeUnit_ = nullptr;
    QCheckBox* clearLog_ = nullptr;
    QCheckBox* debugLog_ = nullptr;
    QComboBox* languages_ = nullptr;
    QPushButton* applyButton_ = nullptr;
};

}  // namespace duzez::ui
