#pragma once

// "Creating Drive Image": where the image of a volume goes, and the copy itself with its
// progress. The copy runs on the engine's image thread; the dialog reads its counters.

#include <QDialog>
#include <QString>
#include <QTimer>
#include <memory>

#include "devices/drive_image.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace duzez::devices {
class CVolume;
}

namespace duzez::ui {

class Questions;

class CreateImageDialog : public QDialog {
    Q_OBJECT

  public:
    CreateImageDialog(devices::CVolume& volume, Questions& questions, QWidget* parent = nullptr);
    ~CreateImageDialog() override;

    // The proposed image name with ".dsk", in the folder of the last image of this program
    // run while it still exists, else in the user's home.
    static QString ProposedPath(const devices::CVolume& volume);

    QString ImagePath() const;
    void SetImagePath(const QString& path);
    // Unreadable sectors become zeros, listed in "<image>.bad", instead of ending the copy.
    QCheckBox* SkipUnreadable() const { return skipUnreadable_; }

    // "Start": refuses (telling why) a destination on the drive being imaged or an image
    // the volume is gone for; asks before replacing an existing file. Whether it started.
    bool Start();
    bool Running() const;
    // The path of a completed image; empty until then.
    QString CreatedImage() const { return created_; }
    int Percent() const;

    // Cancel (or OK at the end): a running copy stops before its next block; the file
    // keeps what was written.
    void reject() override;

  signals:
    // Every sector was copied: the lead loads `path` as a volume.
    void ImageCreated(const QString& path);

  private:
    void Browse();
    void Poll();
    void Finish();

    std::weak_ptr<devices::CVolume> volume_;
    Questions& questions_;
    std::unique_ptr<devices::ImageCopy> copy_;
    QString confirmedReplace_;  // a path the save dialog already asked about
    QString created_;
    QTimer timer_;
    QLineEdit* path_ = nullptr;
    QPushButton* browse_ = nullptr;
    QCheckBox* skipUnreadable_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QLabel* elapsed_ = nullptr;
    QLabel* speed_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

}  // namespace duzez::ui
