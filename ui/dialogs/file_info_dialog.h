#pragma once

// "File Information" for one found object, and the list of its fragments.

#include <QDialog>
#include <QString>
#include <cstdint>
#include <map>

#include "filesystems/found_object.h"

class QGridLayout;
class QLabel;
class QTreeWidget;

namespace duzez::core {
class CApp;
}
namespace duzez::devices {
class CVolume;
}

namespace duzez::ui {

// One row of the fragment list, in 512-byte sectors of the volume.
struct FileFragment {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    std::uint64_t count = 0;
    bool operator==(const FileFragment&) const = default;
};

// An object's data is one extent: its single fragment.
FileFragment FragmentOf(const filesystems::FoundObject& object);

// The window of the "Sectors List" button.
class FileRunView : public QDialog {
    Q_OBJECT

  public:
    FileRunView(const QString& volumeName, const filesystems::FoundObject& object, core::CApp& app,
                QWidget* parent = nullptr);

    QTreeWidget* List() const { return list_; }

  private:
    QTreeWidget* list_ = nullptr;
};

class FileInfoDialog : public QDialog {
    Q_OBJECT

  public:
    enum class Field {
        Name,
        Id,
        ParentId,
        Offset,
        Size,
        SizeOnDisk,
        Type,
        Signature,
        Status,
        Location,
        Created,
        Modified,
        Accessed
    };

    // `object` lies in `volume`'s tree; its fields are copied at once.
    FileInfoDialog(devices::CVolume& volume, const filesystems::FoundObject& object,
                   core::CApp& app, QWidget* parent = nullptr);

    // The text shown for a field.
    QString Text(Field field) const;
    // The "Sectors List" button's window; created on first use.
    FileRunView* ShowSectorsList();

  private:
    void AddRow(QGridLayout* grid, Field field, const QString& caption, const QString& value);

    core::CApp& app_;
    QString volumeName_;
    filesystems::FoundObject object_;
    std::map<Field, QLabel*> values_;
    FileRunView* runView_ = nullptr;
};

}  // namespace duzez::ui
