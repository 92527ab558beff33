#pragma once

// The tree of file types with check boxes, over the signature database: groups with their
// formats. The same tree serves the settings page (what to search for), the filter's
// "Custom:" list (what to show) and the stand-alone "File Types" dialog.

#include <QDialog>
#include <QTreeWidget>
#include <cstdint>

namespace duzez::signatures {
class SignatureDatabase;
struct Signature;
}  // namespace duzez::signatures

namespace duzez::ui {

// Which flag of a format the check marks stand for.
enum class FileTypeMark {
    Search,  // SearchEnable: the scanner looks for the format
    View,    // View: the display filter's custom list shows the format
};

class FileTypesTree : public QTreeWidget {
    Q_OBJECT

  public:
    static constexpr int kCheckAll = 32804;
    static constexpr int kUncheckAll = 32805;
    static constexpr int kProperties = 32808;

    FileTypesTree(signatures::SignatureDatabase& database, FileTypeMark mark,
                  QWidget* parent = nullptr);

    // Marks from the database, dropping any change not yet stored.
    void Reload();
    void SetAllChecked(bool checked);
    // The marks into the formats' flags; saving is the caller's business.
    void StoreMarks() const;

    // The item of a format, or null when the tree does not list it.
    QTreeWidgetItem* FormatItem(std::int32_t formatId) const;
    // The format of the current item, or null for a group or nothing.
    const signatures::Signature* CurrentFormat() const;
    // The properties of the current format; nothing for a group.
    void ShowProperties();
    // The context menu's commands by identifier.
    void RunCommand(int command);

  private:
    signatures::SignatureDatabase& database_;
    FileTypeMark mark_;
};

// The stand-alone "File Types" dialog: OK stores the marks and saves the database.
class FileTypesDialog : public QDialog {
    Q_OBJECT

  public:
    FileTypesDialog(signatures::SignatureDatabase& database, FileTypeMark mark,
                    QWidget* parent = nullptr);

    FileTypesTree* Tree() const { return tree_; }
    void accept() override;

  private:
    signatures::SignatureDatabase& database_;
    FileTypesTree* tree_ = nullptr;
};

}  // namespace duzez::ui
