#include "ui/viewer/hex_view.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QUndoCommand>
#include <algorithm>
#include <array>
#include <vector>

#include "core/string_table.h"
#include "ui/frame/questions.h"

namespace duzez::ui {
namespace {

// QScrollBar counts in int: up to this many rows the bar's value is the top row; beyond,
// the bar moves in this many proportional steps and the row is computed in 64 bits.
constexpr std::uint64_t kScrollSteps = std::uint64_t{1} << 30;

constexpr char kDigits[] = "0123456789ABCDEF";

// value * numerator / denominator without overflow, for numerator < 2^63 and
// value <= denominator <= 2^30.
std::uint64_t Scale(std::uint64_t value, std::uint64_t numerator, std::uint64_t denominator) {
    const std::uint64_t whole = numerator / denominator;
    const std::uint64_t rest = numerator % denominator;
    return value * whole + value * rest / denominator;
}

QString TextOf(core::StringId id) {
    const auto text = core::BuiltinText(id);
    QString out =
        text ? QString::fromUtf8(text->data(), static_cast<qsizetype>(text->size())) : QString();
    return out.remove(QLatin1Char('\r'));
}

char Printable(std::uint8_t byte) {
    return byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
}

// The bytes of one cell typed in one go, undone together.
class ByteEdit : public QUndoCommand {
  public:
    ByteEdit(HexView& view, std::uint64_t offset, std::uint8_t before, std::uint8_t after,
             std::uint64_t caretAfter, std::uint64_t group)
        : view_(view), changes_{{offset, before, after}}, caretAfter_(caretAfter), group_(group) {}

    int id() const override { return 0x4856; }
    bool mergeWith(const QUndoCommand* other) override {
        const auto* next = static_cast<const ByteEdit*>(other);
        if (next->group_ != group_)
            return false;
        for (const Change& change : next->changes_) {
            auto same = std::find_if(changes_.begin(), changes_.end(),
                                     [&](const Change& c) { return c.offset == change.offset; });
            if (same != changes_.end())
                same->after = change.after;
            else
                changes_.push_back(change);
        }
        caretAfter_ = next->caretAfter_;
        return true;
    }
    void redo() override {
        for (const Change& change : changes_)
            view_.ApplyByte(change.offset, change.after, caretAfter_);
    }
    void undo() override {
        std::uint64_t first = changes_.front().offset;
        for (auto change = changes_.rbegin(); change != changes_.rend(); ++change)
            first = std::min(first, change->offset);
        for (auto change = changes_.rbegin(); change != changes_.rend(); ++change)
            view_.ApplyByte(change->offset, change->before, first);
    }

  private:
    struct Change {
        std::uint64_t offset;
        std::uint8_t before;
        std::uint8_t after;
    };
    HexView& view_;
    std::vector<Change> changes_;
    std::uint64_t caretAfter_;
    std::uint64_t group_;
};

}  // namespace

HexView::HexView(QWidget* parent) : QAbstractScrollArea(parent) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::TypeWriter);
    setFont(font);
    const QFontMetrics metrics(font);
    charWidth_ = std::max(1, metrics.horizontalAdvance(QLatin1Char('0')));
    lineHeight_ = std::max(1, metrics.height());
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAutoFillBackground(true);
    viewport()->setBackgroundRole(QPalette::Base);
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, &HexView::OnScrollAction);
    autoScroll_.setInterval(50);
    connect(&autoScroll_, &QTimer::timeout, this, &HexView::AutoScroll);
    UpdateScrollBars();
}

HexView::~HexView() {
    // The commands refer back to this view.
    undo_.clear();
}

void HexView::SetSource(std::shared_ptr<ByteSource> source) {
    undo_.clear();
    source_ = std::move(source);
    topRow_ = 0;
    anchor_ = caret_ = 0;
    nibble_ = 0;
    ++editGroup_;
    UpdateScrollBars();
    verticalScrollBar()->setValue(0);
    viewport()->update();
    emit SelectionChanged();
}

void HexView::SetMemory(std::vector<std::uint8_t> bytes) {
    SetSource(std::make_shared<MemoryByteSource>(std::move(bytes)));
}

void HexView::SetCellWidth(int bytes) {
    if (bytes != 1 && bytes != 2 && bytes != 4)
        return;
    cellWidth_ = bytes;
    nibble_ = 0;
    UpdateScrollBars();
    viewport()->update();
}

void HexView::SetReadOnly(bool readOnly) {
    readOnly_ = readOnly;
}

bool HexView::IsReadOnly() const {
    return readOnly_ || !source_ || source_->ReadOnly();
}

void HexView::SetHeaderShown(bool shown) {
    headerShown_ = shown;
    UpdateScrollBars();
    viewport()->update();
}

std::uint64_t HexView::Size() const {
    return source_ ? source_->Size() : 0;
}

std::uint64_t HexView::RowCount() const {
    return (Size() + kBytesPerRow - 1) / kBytesPerRow;
}

int HexView::VisibleRows() const {
    return std::max(1, (viewport()->height() - HeaderHeight()) / lineHeight_);
}

std::uint64_t HexView::MaxTopRow() const {
    const std::uint64_t rows = RowCount();
    const auto visible = static_cast<std::uint64_t>(VisibleRows());
    return rows > visible ? rows - visible : 0;
}

int HexView::OffsetDigits() const {
    int digits = 8;
    const std::uint64_t size = Size();
    while (digits < 16 && size > 0 && ((size - 1) >> (4 * digits)) != 0)
        ++digits;
    return digits;
}

int HexView::HexColumn(int byteInRow) const {
    const int cell = byteInRow / cellWidth_;
    return OffsetDigits() + 2 + cell * (2 * cellWidth_ + 1) + (byteInRow >= 8 ? 1 : 0);
}

int HexView::HexDigitColumn(int byteInRow) const {
    // Cells read little-endian: the cell's last byte shows first.
    return HexColumn(byteInRow) + (cellWidth_ - 1 - byteInRow % cellWidth_) * 2;
}

int HexView::CharColumn() const {
    return HexColumn(kBytesPerRow - cellWidth_) + 2 * cellWidth_ + 2;
}

int HexView::RowChars() const {
    return CharColumn() + kBytesPerRow;
}

int HexView::HeaderHeight() const {
    return headerShown_ ? lineHeight_ : 0;
}

QString HexView::HeaderText() const {
    QString text(RowChars(), QLatin1Char(' '));
    const QString title = QStringLiteral("Offset");
    text.replace(0, title.size(), title);
    for (int byte = 0; byte < kBytesPerRow; byte += cellWidth_)
        text[HexColumn(byte) + 2 * cellWidth_ - 1] = QLatin1Char(kDigits[byte]);
    return text;
}

QString HexView::RowText(std::uint64_t row) const {
    std::array<std::uint8_t, kBytesPerRow> bytes{};
    std::array<std::uint8_t, kBytesPerRow> bad{};
    const std::uint64_t start = row * kBytesPerRow;
    const std::size_t got = source_ ? source_->Read(start, bytes, bad) : 0;
    QString text(RowChars(), QLatin1Char(' '));
    const int digits = OffsetDigits();
    for (int i = 0; i < digits; ++i)
        text[i] = QLatin1Char(kDigits[(start >> (4 * (digits - 1 - i))) & 0xF]);
    const int chars = CharColumn();
    for (std::size_t b = 0; b < got; ++b) {
        const int column = HexDigitColumn(static_cast<int>(b));
        if (bad[b] != 0) {
            text[column] = text[column + 1] = QLatin1Char('?');
            text[chars + static_cast<int>(b)] = QLatin1Char('?');
            continue;
        }
        text[column] = QLatin1Char(kDigits[bytes[b] >> 4]);
        text[column + 1] = QLatin1Char(kDigits[bytes[b] & 0xF]);
        text[chars + static_cast<int>(b)] = QLatin1Char(Printable(bytes[b]));
    }
    if (got < kBytesPerRow)
        text.truncate(chars + static_cast<int>(got));
    return text;
}

void HexView::UpdateScrollBars() {
    const std::uint64_t maxTop = MaxTopRow();
    QScrollBar* bar = verticalScrollBar();
    const QSignalBlocker block(bar);
    const int visible = VisibleRows();
    if (maxTop <= kScrollSteps) {
        bar->setRange(0, static_cast<int>(maxTop));
        bar->setPageStep(visible);
    } else {
        bar->setRange(0, static_cast<int>(kScrollSteps));
        // Only sets the handle's size: steps and pages are taken in rows (OnScrollAction).
        bar->setPageStep(std::max(
            1, static_cast<int>(Scale(static_cast<std::uint64_t>(visible), kScrollSteps, maxTop))));
    }
    bar->setSingleStep(1);
    topRow_ = std::min(topRow_, maxTop);
    bar->setValue(RowToValue(topRow_));
    QScrollBar* across = horizontalScrollBar();
    across->setRange(0, std::max(0, RowChars() * charWidth_ - viewport()->width()));
    across->setPageStep(viewport()->width());
    across->setSingleStep(charWidth_);
}

int HexView::RowToValue(std::uint64_t row) const {
    const std::uint64_t maxTop = MaxTopRow();
    if (maxTop <= kScrollSteps)
        return static_cast<int>(row);
    // Rounded to the nearest step; ValueToRow(RowToValue(max)) is max again.
    const long double ratio = static_cast<long double>(row) / static_cast<long double>(maxTop);
    return static_cast<int>(ratio * static_cast<long double>(kScrollSteps) + 0.5L);
}

std::uint64_t HexView::ValueToRow(int value) const {
    const std::uint64_t maxTop = MaxTopRow();
    const auto v = static_cast<std::uint64_t>(std::max(0, value));
    if (maxTop <= kScrollSteps)
        return std::min(v, maxTop);
    return Scale(std::min(v, kScrollSteps), maxTop, kScrollSteps);
}

void HexView::SetTopRow(std::uint64_t row) {
    topRow_ = std::min(row, MaxTopRow());
    QScrollBar* bar = verticalScrollBar();
    const QSignalBlocker block(bar);
    bar->setValue(RowToValue(topRow_));
    viewport()->update();
}

void HexView::scrollContentsBy(int, int) {
    // The bar moved by a drag or a wheel: its value only names the row when it differs
    // from where the rows already are, so exact row moves survive the coarse bar.
    const int value = verticalScrollBar()->value();
    if (value != RowToValue(topRow_))
        topRow_ = ValueToRow(value);
    viewport()->update();
}

void HexView::OnScrollAction(int action) {
    const auto page = static_cast<std::uint64_t>(VisibleRows());
    std::uint64_t row = topRow_;
    switch (action) {
        case QAbstractSlider::SliderSingleStepAdd:
            row += 1;
            break;
        case QAbstractSlider::SliderSingleStepSub:
            row = row > 0 ? row - 1 : 0;
            break;
        case QAbstractSlider::SliderPageStepAdd:
            row += page;
            break;
        case QAbstractSlider::SliderPageStepSub:
            row = row > page ? row - page : 0;
            break;
        case QAbstractSlider::SliderToMinimum:
            row = 0;
            break;
        case QAbstractSlider::SliderToMaximum:
            row = MaxTopRow();
            break;
        default:
            return;
    }
    topRow_ = std::min(row, MaxTopRow());
    verticalScrollBar()->setSliderPosition(RowToValue(topRow_));
    viewport()->update();
}

void HexView::ScrollToOffset(std::uint64_t offset) {
    SetTopRow(offset / kBytesPerRow);
}

void HexView::EnsureVisible(std::uint64_t offset) {
    const std::uint64_t row = offset / kBytesPerRow;
    const auto visible = static_cast<std::uint64_t>(VisibleRows());
    if (row < topRow_)
        SetTopRow(row);
    else if (row >= topRow_ + visible)
        SetTopRow(row - visible + 1);
}

void HexView::SetSelection(std::uint64_t start, std::uint64_t end, bool noScroll) {
    const std::uint64_t size = Size();
    anchor_ = std::min(start, size);
    caret_ = std::min(end, size);
    nibble_ = 0;
    ++editGroup_;
    if (!noScroll && size > 0)
        EnsureVisible(std::min(anchor_, caret_));
    viewport()->update();
    emit SelectionChanged();
}

HexView::Range HexView::Selection() const {
    return Range{std::min(anchor_, caret_), std::max(anchor_, caret_)};
}

void HexView::SetActiveArea(Area area) {
    area_ = area;
    nibble_ = 0;
    viewport()->update();
}

void HexView::MoveCaret(std::uint64_t to, bool extend) {
    const std::uint64_t size = Size();
    // A selection may end just past the last byte; the caret alone stays on a byte.
    const std::uint64_t last = extend || size == 0 ? size : size - 1;
    caret_ = std::min(to, last);
    if (!extend)
        anchor_ = caret_;
    nibble_ = 0;
    ++editGroup_;
    if (size > 0)
        EnsureVisible(std::min(caret_, size - 1));
    viewport()->update();
    emit SelectionChanged();
}

QString HexView::CopyText() const {
    const Range range = Selection();
    if (range.Empty() || !source_)
        return {};
    QString text;
    text.reserve(static_cast<qsizetype>(range.Length() * 3 + range.Length() / 8));
    std::array<std::uint8_t, 4096> block{};
    std::uint64_t counted = 0;
    for (std::uint64_t at = range.start; at < range.end;) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), range.end - at));
        const std::size_t got = source_->Read(at, std::span(block).first(want));
        if (got == 0)
            break;
        for (std::size_t i = 0; i < got; ++i) {
            text += QLatin1Char(kDigits[block[i] >> 4]);
            text += QLatin1Char(kDigits[block[i] & 0xF]);
            text += QLatin1Char(' ');
            if (++counted % kBytesPerRow == 0)
                text += QStringLiteral("\r\n");
        }
        at += got;
    }
    return text;
}

bool HexView::Copy() {
    const Range range = Selection();
    if (range.Empty() || !source_)
        return false;
    if (range.Length() > kQuietCopyLimit) {
        const QString caption = TextOf(core::StringId::Error);
        const QString question = TextOf(core::StringId::ClipboardLargeCopy);
        MessageBoxQuestions boxes;
        Questions& ask = questions_ != nullptr ? *questions_ : boxes;
        if (!ask.AskYesNo(this, caption, question))
            return false;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QString text = CopyText();
    QClipboard* clipboard = QApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
    QApplication::restoreOverrideCursor();
    return true;
}

bool HexView::CanEdit() const {
    return !IsReadOnly();
}

void HexView::ApplyByte(std::uint64_t offset, std::uint8_t value, std::uint64_t caret) {
    if (!source_ || !source_->Write(offset, value))
        return;
    anchor_ = caret_ = std::min(caret, Size() > 0 ? Size() - 1 : 0);
    EnsureVisible(caret_);
    viewport()->update();
    emit SelectionChanged();
}

void HexView::TypeHexDigit(int digit) {
    const std::uint64_t size = Size();
    if (!CanEdit() || caret_ >= size) {
        QApplication::beep();
        return;
    }
    const auto width = static_cast<std::uint64_t>(cellWidth_);
    const std::uint64_t cell = caret_ - caret_ % width;
    const std::uint64_t target = cell + (width - 1 - static_cast<std::uint64_t>(nibble_ / 2));
    if (target >= size)
        return;  // the part of a wide cell past the end of the data
    std::uint8_t before = 0;
    source_->Read(target, std::span(&before, 1));
    const auto high = static_cast<std::uint8_t>(digit << 4);
    const auto after = static_cast<std::uint8_t>(nibble_ % 2 == 0 ? (before & 0x0F) | high
                                                                  : (before & 0xF0) | digit);
    std::uint64_t caretAfter = cell;
    int nibbleAfter = nibble_ + 1;
    if (nibbleAfter == 2 * cellWidth_) {
        nibbleAfter = 0;
        if (cell + width < size)
            caretAfter = cell + width;
    }
    undo_.push(new ByteEdit(*this, target, before, after, caretAfter, editGroup_));
    nibble_ = nibbleAfter;
    if (nibble_ == 0)
        ++editGroup_;
}

void HexView::TypeCharacter(char16_t character) {
    const std::uint64_t size = Size();
    if (!CanEdit() || caret_ >= size) {
        QApplication::beep();
        return;
    }
    const std::uint64_t at = caret_;
    const auto low = static_cast<std::uint8_t>(character & 0xFF);
    const auto high = static_cast<std::uint8_t>(character >> 8);
    undo_.beginMacro(QStringLiteral("Type"));
    std::uint8_t before = 0;
    source_->Read(at, std::span(&before, 1));
    const std::uint64_t next = at + 1;
    if (high != 0 && next < size) {
        undo_.push(new ByteEdit(*this, at, before, low, at, ++editGroup_));
        source_->Read(next, std::span(&before, 1));
        undo_.push(
            new ByteEdit(*this, next, before, high, std::min(next + 1, size - 1), ++editGroup_));
    } else {
        undo_.push(new ByteEdit(*this, at, before, low, std::min(next, size - 1), ++editGroup_));
    }
    undo_.endMacro();
}

void HexView::ClearCell() {
    if (!CanEdit()) {
        QApplication::beep();
        return;
    }
    undo_.beginMacro(QStringLiteral("Delete"));
    nibble_ = 0;
    ++editGroup_;
    for (int i = 0; i < 2 * cellWidth_; ++i)
        TypeHexDigit(0);
    undo_.endMacro();
}

void HexView::keyPressEvent(QKeyEvent* event) {
    const bool shift = (event->modifiers() & Qt::ShiftModifier) != 0;
    const bool ctrl = (event->modifiers() & Qt::ControlModifier) != 0;
    const std::uint64_t size = Size();
    const std::uint64_t row = caret_ - caret_ % kBytesPerRow;
    const auto page = static_cast<std::uint64_t>(VisibleRows()) * kBytesPerRow;
    const auto back = [&](std::uint64_t by) { return caret_ > by ? caret_ - by : 0; };
    if (event->matches(QKeySequence::Copy)) {
        Copy();
        return;
    }
    if (event->matches(QKeySequence::Undo)) {
        if (!IsReadOnly())
            undo_.undo();
        return;
    }
    if (event->matches(QKeySequence::Redo)) {
        if (!IsReadOnly())
            undo_.redo();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        SetSelection(0, size, true);
        return;
    }
    switch (event->key()) {
        case Qt::Key_Left:
            MoveCaret(back(ctrl ? 8 : 1), shift);
            return;
        case Qt::Key_Right:
            MoveCaret(caret_ + (ctrl ? 8 : 1), shift);
            return;
        case Qt::Key_Up:
            MoveCaret(back(kBytesPerRow), shift);
            return;
        case Qt::Key_Down:
            MoveCaret(caret_ + kBytesPerRow, shift);
            return;
        case Qt::Key_PageUp:
            SetTopRow(topRow_ > page / kBytesPerRow ? topRow_ - page / kBytesPerRow : 0);
            MoveCaret(back(page), shift);
            return;
        case Qt::Key_PageDown:
            SetTopRow(topRow_ + page / kBytesPerRow);
            MoveCaret(caret_ + page, shift);
            return;
        case Qt::Key_Home:
            MoveCaret(ctrl ? 0 : row, shift);
            return;
        case Qt::Key_End:
            if (ctrl)
                MoveCaret(shift ? size : (size > 0 ? size - 1 : 0), shift);
            else
                MoveCaret(shift ? row + kBytesPerRow : row + kBytesPerRow - 1, shift);
            return;
        case Qt::Key_Delete:
            if (area_ == Area::Hex)
                ClearCell();
            return;
        case Qt::Key_F6:
            emit NextPaneRequested();
            return;
        case Qt::Key_Tab:
            SetActiveArea(area_ == Area::Hex ? Area::Chars : Area::Hex);
            return;
        default:
            break;
    }
    const QString text = event->text();
    if (text.isEmpty() || ctrl || !text.at(0).isPrint()) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    const char16_t typed = text.at(0).unicode();
    if (area_ == Area::Chars) {
        TypeCharacter(typed);
        return;
    }
    int digit = -1;
    if (typed >= u'0' && typed <= u'9')
        digit = typed - u'0';
    else if (typed >= u'a' && typed <= u'f')
        digit = typed - u'a' + 10;
    else if (typed >= u'A' && typed <= u'F')
        digit = typed - u'A' + 10;
    if (digit >= 0)
        TypeHexDigit(digit);
    else if (IsReadOnly())
        QApplication::beep();
}

HexView::Hit HexView::HitAt(const QPoint& point) const {
    Hit hit;
    const std::uint64_t size = Size();
    if (size == 0)
        return hit;
    const int column = (point.x() + horizontalScrollBar()->value()) / charWidth_;
    const int line = std::max(0, point.y() - HeaderHeight()) / lineHeight_;
    const std::uint64_t row = topRow_ + static_cast<std::uint64_t>(line);
    int byte = 0;
    if (column >= CharColumn() - 1) {
        hit.area = Area::Chars;
        byte = std::clamp(column - CharColumn(), 0, kBytesPerRow - 1);
    } else {
        byte = kBytesPerRow - cellWidth_;
        for (int cell = 0; cell < kBytesPerRow; cell += cellWidth_) {
            if (column < HexColumn(cell) + 2 * cellWidth_) {
                const int digit = std::clamp(column - HexColumn(cell), 0, 2 * cellWidth_ - 1);
                byte = cell + cellWidth_ - 1 - digit / 2;
                break;
            }
        }
    }
    hit.offset = std::min(row * kBytesPerRow + static_cast<std::uint64_t>(byte), size - 1);
    return hit;
}

void HexView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const Hit hit = HitAt(event->position().toPoint());
    area_ = hit.area;
    const bool extend = (event->modifiers() & Qt::ShiftModifier) != 0;
    if (!extend)
        pressed_ = hit.offset;
    MoveCaret(hit.offset, extend);
    dragging_ = true;
}

void HexView::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_)
        return;
    const QPoint point = event->position().toPoint();
    const Hit hit = HitAt(point);
    // The selection runs from the pressed byte through the byte under the pointer.
    if (hit.offset >= pressed_) {
        anchor_ = pressed_;
        caret_ = hit.offset + 1;
    } else {
        anchor_ = pressed_ + 1;
        caret_ = hit.offset;
    }
    autoScrollRows_ = point.y() < HeaderHeight() ? -1 : point.y() > viewport()->height() ? 1 : 0;
    if (autoScrollRows_ != 0 && !autoScroll_.isActive())
        autoScroll_.start();
    viewport()->update();
    emit SelectionChanged();
}

void HexView::mouseReleaseEvent(QMouseEvent* event) {
    dragging_ = false;
    autoScroll_.stop();
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void HexView::AutoScroll() {
    if (!dragging_ || autoScrollRows_ == 0) {
        autoScroll_.stop();
        return;
    }
    SetTopRow(autoScrollRows_ < 0 ? (topRow_ > 0 ? topRow_ - 1 : 0) : topRow_ + 1);
}

void HexView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void HexView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void HexView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void HexView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const QPalette& colours = palette();
    painter.fillRect(viewport()->rect(), colours.color(QPalette::Base));
    painter.setFont(font());
    const int left = -horizontalScrollBar()->value();
    const int ascent = QFontMetrics(font()).ascent();
    if (headerShown_) {
        painter.setPen(colours.color(QPalette::WindowText));
        painter.drawText(left, ascent, HeaderText());
    }
    if (!source_)
        return;
    const bool focused = hasFocus();
    const QColor activeBack = colours.color(focused ? QPalette::Highlight : QPalette::Button);
    const QColor activeText =
        colours.color(focused ? QPalette::HighlightedText : QPalette::ButtonText);
    const QColor otherBack = colours.color(focused ? QPalette::Button : QPalette::Highlight);
    const QColor otherText =
        colours.color(focused ? QPalette::ButtonText : QPalette::HighlightedText);
    const QColor text = colours.color(QPalette::Text);
    const Range selected = Selection();
    const std::uint64_t rows = RowCount();
    const int visible = VisibleRows() + 1;
    const int chars = CharColumn();
    for (int line = 0; line < visible && topRow_ + static_cast<std::uint64_t>(line) < rows;
         ++line) {
        const std::uint64_t row = topRow_ + static_cast<std::uint64_t>(line);
        const QString rowText = RowText(row);
        const int top = HeaderHeight() + line * lineHeight_;
        painter.setPen(text);
        painter.drawText(left, top + ascent, rowText);
        const std::uint64_t start = row * kBytesPerRow;
        if (selected.Empty() || selected.end <= start || selected.start >= start + kBytesPerRow)
            continue;
        for (int b = 0; b < kBytesPerRow; ++b) {
            const std::uint64_t at = start + static_cast<std::uint64_t>(b);
            if (at < selected.start || at >= selected.end || chars + b >= rowText.size())
                continue;
            const bool hexActive = area_ == Area::Hex;
            const int hex = HexDigitColumn(b);
            const QRect hexCell(left + hex * charWidth_, top, 2 * charWidth_, lineHeight_);
            const QRect charCell(left + (chars + b) * charWidth_, top, charWidth_, lineHeight_);
            painter.fillRect(hexCell, hexActive ? activeBack : otherBack);
            painter.fillRect(charCell, hexActive ? otherBack : activeBack);
            painter.setPen(hexActive ? activeText : otherText);
            painter.drawText(hexCell.left(), top + ascent, rowText.mid(hex, 2));
            painter.setPen(hexActive ? otherText : activeText);
            painter.drawText(charCell.left(), top + ascent, rowText.mid(chars + b, 1));
        }
    }
    if (selected.Empty() && focused && caret_ < Size()) {
        const std::uint64_t row = caret_ / kBytesPerRow;
        if (row >= topRow_ && row < topRow_ + static_cast<std::uint64_t>(visible)) {
            const int b = static_cast<int>(caret_ % kBytesPerRow);
            const int top = HeaderHeight() + static_cast<int>(row - topRow_) * lineHeight_;
            const int column =
                area_ == Area::Hex ? HexColumn(b - b % cellWidth_) + nibble_ : chars + b;
            painter.fillRect(QRect(left + column * charWidth_, top, 2, lineHeight_), text);
        }
    }
}

}  // namespace duzez::ui
