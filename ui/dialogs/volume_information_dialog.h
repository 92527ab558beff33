#pragma once

// "Volume Information": what is known of one volume on three pages: general facts, what
// its file system can hold, and where it lies on its device.

#include <QDialog>
#include <QString>
#include <utility>
#include <vector>

namespace duzez::core {
class CLanguages;
}
namespace duzez::devices {
class CVolume;
}

namespace duzez::ui {

// What a file system can store, as the capability page lists it.
struct FileSystemCapabilities {
    bool namedStreams = false;
    bool readOnly = true;  // this program never writes to a volume it reads
    bool objectIdentifiers = false;
    bool reparsePoints = false;
    bool sparseFiles = false;
    bool fileCompression = false;
    bool caseSensitiveNames = false;
    bool preservesCase = false;
    bool diskQuotas = false;
    bool encryption = false;
    bool accessControlLists = false;
    bool unicodeNames = false;
    bool compressedVolume = false;
};

// By the file system's name ("FAT32", "NTFS", "exFAT"); nothing beyond read-only for an
// unknown one.
FileSystemCapabilities CapabilitiesOf(const std::string& fileSystemName);

class VolumeInformationDialog : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kGeneral = 0;
    static constexpr int kCapabilities = 1;
    static constexpr int kInformation = 2;

    // Counts the volume's free space in its allocation tables when the system did not
    // give it.
    VolumeInformationDialog(devices::CVolume& volume, const core::CLanguages& texts,
                            QWidget* parent = nullptr);

    // A page's rows as label and value (tests).
    const std::vector<std::pair<QString, QString>>& Rows(int page) const { return rows_[page]; }
    void ShowPage(int page);

  private:
    std::vector<std::pair<QString, QString>> rows_[3];
};

}  // namespace duzez::ui
