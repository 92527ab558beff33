#pragma once

// "File Format Properties" of one format, read-only, on three pages: what the format is,
// how the scanner treats it, and the byte patterns a file of it starts with, each pattern
// as its 512 bytes and its mask in two data viewers.

#include <QDialog>
#include <cstddef>

class QLabel;
class QPushButton;

namespace duzez::signatures {
class SignatureDatabase;
struct Signature;
}  // namespace duzez::signatures

namespace duzez::ui {

class HexView;

class FormatPropertiesDialog : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kDescription = 0;
    static constexpr int kTechnicalInfo = 1;
    static constexpr int kSignature = 2;

    FormatPropertiesDialog(const signatures::Signature& format,
                           const signatures::SignatureDatabase& database,
                           QWidget* parent = nullptr);

    void ShowPage(int page);
    // Shows pattern `index` (clamped to those there are).
    void ShowPattern(std::size_t index);
    std::size_t CurrentPattern() const { return pattern_; }
    HexView& DataView() const { return *data_; }
    HexView& MaskView() const { return *mask_; }

  private:
    QWidget* SignaturePage();

    const signatures::Signature& format_;
    const signatures::SignatureDatabase& database_;
    std::size_t pattern_ = 0;
    QLabel* position_ = nullptr;
    QLabel* options_ = nullptr;
    QPushButton* previous_ = nullptr;
    QPushButton* next_ = nullptr;
    HexView* data_ = nullptr;
    HexView* mask_ = nullptr;
};

}  // namespace duzez::ui
