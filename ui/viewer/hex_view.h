#pragma once

// The data viewer: offset, hexadecimal and character columns over a byte source of any
// size. Only the rows on the screen are read and painted. Edits go to the source through
// an undo stack, and only when the source itself is writable (a memory block); a volume
// or a found object is never written.

#include <QAbstractScrollArea>
#include <QString>
#include <QTimer>
#include <QUndoStack>
#include <cstdint>
#include <memory>

#include "ui/viewer/byte_source.h"

namespace duzez::ui {

class Questions;

class HexView : public QAbstractScrollArea {
    Q_OBJECT

  public:
    static constexpr int kBytesPerRow = 16;
    // Copies longer than this ask first.
    static constexpr std::uint64_t kQuietCopyLimit = 65536;

    enum class Area { Hex, Chars };
    // Half-open, ascending: [start, end).
    struct Range {
        std::uint64_t start = 0;
        std::uint64_t end = 0;
        bool Empty() const { return start == end; }
        std::uint64_t Length() const { return end - start; }
    };

    explicit HexView(QWidget* parent = nullptr);
    ~HexView() override;

    // Shows `source` (null: empty) from the top; drops the undo history and selection.
    void SetSource(std::shared_ptr<ByteSource> source);
    const std::shared_ptr<ByteSource>& Source() const { return source_; }
    // An editable copy of `bytes`, named "Memory".
    void SetMemory(std::vector<std::uint8_t> bytes);

    void SetCellWidth(int bytes);  // 1, 2 or 4
    int CellWidth() const { return cellWidth_; }
    // Read-only refuses typing even over a writable source.
    void SetReadOnly(bool readOnly);
    bool IsReadOnly() const;
    // The "Offset  0  1 ..." line above the rows (the explorer's pane shows it).
    void SetHeaderShown(bool shown);
    // Where large-copy questions go; null asks with a message box.
    void SetQuestions(Questions* questions) { questions_ = questions; }

    void ScrollToOffset(std::uint64_t offset);
    // The offset of the first visible row.
    std::uint64_t TopOffset() const { return topRow_ * kBytesPerRow; }
    int VisibleRows() const;

    // Clamped to the data; an empty selection shows the caret at `start`.
    void SetSelection(std::uint64_t start, std::uint64_t end, bool noScroll = false);
    Range Selection() const;
    std::uint64_t CaretOffset() const { return caret_; }
    Area ActiveArea() const { return area_; }
    void SetActiveArea(Area area);

    // What Copy puts on the clipboard: "%02X " per byte, "\r\n" after every 16.
    QString CopyText() const;
    // Copies the selection, asking first when it is large; false when nothing was copied.
    bool Copy();
    QUndoStack& UndoStack() { return undo_; }

    // The text of one row as painted ("??" for an unreadable byte), for tests and the pane.
    QString RowText(std::uint64_t row) const;
    QString HeaderText() const;

    // For the undo commands.
    void ApplyByte(std::uint64_t offset, std::uint8_t value, std::uint64_t caret);

  signals:
    void SelectionChanged();
    // F6: the window moves the focus to its next pane.
    void NextPaneRequested();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

  private:
    struct Hit {
        std::uint64_t offset = 0;
        Area area = Area::Hex;
    };

    std::uint64_t Size() const;
    std::uint64_t RowCount() const;
    std::uint64_t MaxTopRow() const;
    int OffsetDigits() const;
    // Character columns of the layout.
    int HexColumn(int byteInRow) const;
    int HexDigitColumn(int byteInRow) const;
    int CharColumn() const;
    int RowChars() const;
    int HeaderHeight() const;
    Hit HitAt(const QPoint& point) const;

    void UpdateScrollBars();
    int RowToValue(std::uint64_t row) const;
    std::uint64_t ValueToRow(int value) const;
    void SetTopRow(std::uint64_t row);
    void EnsureVisible(std::uint64_t offset);
    void MoveCaret(std::uint64_t to, bool extend);
    void OnScrollAction(int action);
    void AutoScroll();

    void TypeHexDigit(int digit);
    void TypeCharacter(char16_t character);
    void ClearCell();
    bool CanEdit() const;

    std::shared_ptr<ByteSource> source_;
    Questions* questions_ = nullptr;
    QUndoStack undo_;
    QTimer autoScroll_;
    int cellWidth_ = 1;
    bool readOnly_ = false;
    bool headerShown_ = true;
    std::uint64_t topRow_ = 0;
    std::uint64_t anchor_ = 0;
    std::uint64_t caret_ = 0;
    std::uint64_t pressed_ = 0;  // the byte a drag started on
    bool dragging_ = false;
    int autoScrollRows_ = 0;
    int nibble_ = 0;  // digit of the current cell, most significant first
    // Keystrokes on one byte in one go undo together; any caret move starts a new group.
    std::uint64_t editGroup_ = 0;
    Area area_ = Area::Hex;
    int charWidth_ = 8;
    int lineHeight_ = 16;
};

}  // namespace duzez::ui
