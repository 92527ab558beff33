// The data viewer: rows, cells, copying, typing with undo, and the sources behind it (a
// memory block, a volume of terabytes, a found object, sectors that cannot be read).

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <set>

#include "devices/volume.h"
#include "tests/support/temp_folder.h"
#include "tests/ui/ui_machine.h"
#include "ui/viewer/byte_source.h"
#include "ui/viewer/hex_view.h"

namespace duzez::test {
namespace {

using ui::ByteSource;
using ui::HexView;
using ui::MemoryByteSource;
using ui::SectorByteSource;

std::vector<std::uint8_t> Counting(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return bytes;
}

// What a copy of `bytes` must read, written out independently of the view.
QString Expected(const std::vector<std::uint8_t>& bytes) {
    QString text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        text += QString::asprintf("%02X ", bytes[i]);
        if ((i + 1) % 16 == 0)
            text += QStringLiteral("\r\n");
    }
    return text;
}

struct ViewerFixture : ::testing::Test {
    ViewerFixture() {
        view.resize(720, 300);
        view.show();
        view.setFocus();
    }
    std::shared_ptr<MemoryByteSource> Memory(std::vector<std::uint8_t> bytes,
                                             bool readOnly = false) {
        auto source = std::make_shared<MemoryByteSource>(std::move(bytes), readOnly);
        view.SetSource(source);
        return source;
    }
    // The hexadecimal column of a row, as painted, with the blank after the eighth byte.
    std::string HexOfRow(std::uint64_t row, int cellWidth) {
        const QString text = view.RowText(row);
        const int cells = 16 / cellWidth;
        return text.mid(10, cells * (2 * cellWidth + 1) + 1).toStdString();
    }
    HexView view;
};

using ViewerCopy = ViewerFixture;

TEST_F(ViewerCopy, SeventeenBytesGiveOneLineOfSixteenGroupsAndOneMore) {
    const auto bytes = Counting(17);
    Memory(bytes);
    view.SetSelection(0, 17);
    const QString text = view.CopyText();
    EXPECT_EQ(text, Expected(bytes));
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0].split(QLatin1Char(' '), Qt::SkipEmptyParts).size(), 16);
    EXPECT_EQ(lines[1], QString::asprintf("%02X ", bytes[16]));
}

TEST_F(ViewerCopy, SelectionInEitherOrderCopiesTheSameBytes) {
    const auto bytes = Counting(64);
    Memory(bytes);
    view.SetSelection(40, 5);
    EXPECT_EQ(view.Selection().start, 5u);
    EXPECT_EQ(view.Selection().end, 40u);
    EXPECT_EQ(view.CopyText(),
              Expected(std::vector<std::uint8_t>(bytes.begin() + 5, bytes.begin() + 40)));
    view.SetSelection(9, 9);
    EXPECT_TRUE(view.CopyText().isEmpty());
    EXPECT_FALSE(view.Copy());
}

TEST_F(ViewerCopy, SixtyFourKiBCopiesWithoutAskingOneMoreByteAsks) {
    ScriptedQuestions questions;
    view.SetQuestions(&questions);
    const auto bytes = Counting(HexView::kQuietCopyLimit + 1);
    Memory(bytes);

    view.SetSelection(0, HexView::kQuietCopyLimit);
    ASSERT_TRUE(view.Copy());
    EXPECT_TRUE(questions.asked.empty());
    EXPECT_EQ(QApplication::clipboard()->text(),
              Expected(std::vector<std::uint8_t>(bytes.begin(), bytes.end() - 1)));

    QApplication::clipboard()->setText(QStringLiteral("before"));
    view.SetSelection(0, HexView::kQuietCopyLimit + 1);
    questions.answers = {false};
    EXPECT_FALSE(view.Copy());
    ASSERT_EQ(questions.asked.size(), 1u);
    EXPECT_TRUE(questions.asked[0].contains(QStringLiteral("large amount")));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("before"));

    questions.answers = {true};
    EXPECT_TRUE(view.Copy());
    EXPECT_EQ(questions.asked.size(), 2u);
    EXPECT_EQ(QApplication::clipboard()->text(), Expected(bytes));
}

TEST_F(ViewerCopy, CtrlCCopiesTheKeyboardSelection) {
    const auto bytes = Counting(40);
    Memory(bytes);
    QTest::keyClick(&view, Qt::Key_Right);
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(&view, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(view.Selection().start, 1u);
    EXPECT_EQ(view.Selection().end, 20u);
    QApplication::clipboard()->clear();
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(),
              Expected(std::vector<std::uint8_t>(bytes.begin() + 1, bytes.begin() + 20)));
}

using ViewerCells = ViewerFixture;

TEST_F(ViewerCells, WidthOneShowsEachByteWithTheGapAfterTheEighth) {
    std::vector<std::uint8_t> bytes(16);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{0xA0});
    Memory(bytes);
    EXPECT_EQ(HexOfRow(0, 1), "A0 A1 A2 A3 A4 A5 A6 A7  A8 A9 AA AB AC AD AE AF ");
    EXPECT_TRUE(view.RowText(0).startsWith(QStringLiteral("00000000  ")));
}

TEST_F(ViewerCells, WidthTwoAndFourReadLittleEndian) {
    std::vector<std::uint8_t> bytes(16, 0);
    bytes[0] = 0x34;
    bytes[1] = 0x12;
    bytes[4] = 0x78;
    bytes[5] = 0x56;
    bytes[6] = 0x34;
    bytes[7] = 0x12;
    Memory(bytes);
    view.SetCellWidth(2);
    EXPECT_EQ(HexOfRow(0, 2), "1234 0000 5678 1234  0000 0000 0000 0000 ");
    view.SetCellWidth(4);
    EXPECT_EQ(HexOfRow(0, 4), "00001234 12345678  00000000 00000000 ");
    // Widths other than 1, 2 and 4 are refused.
    view.SetCellWidth(3);
    EXPECT_EQ(view.CellWidth(), 4);
}

TEST_F(ViewerCells, CharactersShowDotsForWhatIsNotPrintable) {
    Memory({'P', 'K', 0x03, 0x04, 0x7F, ' ', '~'});
    EXPECT_TRUE(view.RowText(0).endsWith(QStringLiteral("PK... ~")));
}

using ViewerTyping = ViewerFixture;

TEST_F(ViewerTyping, AKeyThatIsNoHexDigitChangesNothing) {
    const auto source = Memory({0x12, 0x34});
    QTest::keyClick(&view, Qt::Key_G);
    QTest::keyClicks(&view, QStringLiteral("g!z"));
    EXPECT_EQ(source->Bytes(), (std::vector<std::uint8_t>{0x12, 0x34}));
    EXPECT_EQ(view.UndoStack().count(), 0);
}

TEST_F(ViewerTyping, UndoRestoresTheByteAndRedoAppliesItAgain) {
    const auto source = Memory({0x12, 0x34, 0x56});
    QTest::keyClicks(&view, QStringLiteral("7f"));
    EXPECT_EQ(source->Bytes(), (std::vector<std::uint8_t>{0x7F, 0x34, 0x56}));
    EXPECT_EQ(view.CaretOffset(), 1u);
    QTest::keyClicks(&view, QStringLiteral("A"));
    EXPECT_EQ(source->Bytes()[1], 0xA4);

    QTest::keyClick(&view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(source->Bytes(), (std::vector<std::uint8_t>{0x7F, 0x34, 0x56}));
    QTest::keyClick(&view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(source->Bytes(), (std::vector<std::uint8_t>{0x12, 0x34, 0x56}));
    EXPECT_EQ(view.CaretOffset(), 0u);

    view.UndoStack().redo();
    EXPECT_EQ(source->Bytes(), (std::vector<std::uint8_t>{0x7F, 0x34, 0x56}));
    view.UndoStack().redo();
    EXPECT_EQ(source->Bytes(), (std::vector<std::uint8_t>{0x7F, 0xA4, 0x56}));
}

TEST_F(ViewerTyping, WideCellsTakeDigitsMostSignificantFirst) {
    const auto source = Memory({0, 0, 0, 0, 0, 0});
    view.SetCellWidth(2);
    QTest::keyClicks(&view, QStringLiteral("1234"));
    EXPECT_EQ(source->Bytes(), (std::vector<std::uint8_t>{0x34, 0x12, 0, 0, 0, 0}));
    EXPECT_EQ(view.CaretOffset(), 2u);
    // The cell typed in one go undoes in one step.
    QTest::keyClicks(&view, QStringLiteral("a"));
    EXPECT_EQ(source->Bytes()[3], 0xA0);
    view.UndoStack().undo();
    EXPECT_EQ(source->Bytes()[3], 0);
    view.UndoStack().undo();
    EXPECT_EQ(source->Bytes(), std::vector<std::uint8_t>(6, 0));
    EXPECT_EQ(view.CaretOffset(), 0u);
}

TEST_F(ViewerTyping, DeleteClearsTheCellAsOneUndoStep) {
    const auto source = Memory({0xAB, 0xCD, 0xEF, 0x11});
    view.SetCellWidth(2);
    QTest::keyClick(&view, Qt::Key_Delete);
    EXPECT_EQ(source->Bytes(), (std::vector<std::uint8_t>{0, 0, 0xEF, 0x11}));
    view.UndoStack().undo();
    EXPECT_EQ(source->Bytes(), (std::vector<std::uint8_t>{0xAB, 0xCD, 0xEF, 0x11}));
}

TEST_F(ViewerTyping, TheCharacterAreaOverwritesBytes) {
    const auto source = Memory({0, 0, 0, 0});
    view.SetActiveArea(HexView::Area::Chars);
    QTest::keyClicks(&view, QStringLiteral("Hi"));
    EXPECT_EQ(source->Bytes(), (std::vector<std::uint8_t>{'H', 'i', 0, 0}));
}

TEST_F(ViewerTyping, AReadOnlySourceOrViewRefusesTyping) {
    const auto locked = Memory({0x12, 0x34}, true);
    EXPECT_TRUE(view.IsReadOnly());
    QTest::keyClicks(&view, QStringLiteral("ff"));
    QTest::keyClick(&view, Qt::Key_Delete);
    EXPECT_EQ(locked->Bytes(), (std::vector<std::uint8_t>{0x12, 0x34}));
    EXPECT_EQ(view.UndoStack().count(), 0);

    const auto open = Memory({0x12, 0x34});
    view.SetReadOnly(true);
    QTest::keyClicks(&view, QStringLiteral("ff"));
    EXPECT_EQ(open->Bytes(), (std::vector<std::uint8_t>{0x12, 0x34}));
    view.SetReadOnly(false);
    QTest::keyClicks(&view, QStringLiteral("ff"));
    EXPECT_EQ(open->Bytes(), (std::vector<std::uint8_t>{0xFF, 0x34}));
}

TEST_F(ViewerTyping, NewDataDropsTheUndoHistory) {
    Memory({0x12});
    QTest::keyClicks(&view, QStringLiteral("9"));
    EXPECT_EQ(view.UndoStack().count(), 1);
    const auto next = Memory({0x55});
    EXPECT_EQ(view.UndoStack().count(), 0);
    view.UndoStack().undo();
    EXPECT_EQ(next->Bytes()[0], 0x55);
}

using ViewerSelection = ViewerFixture;

TEST_F(ViewerSelection, KeysMoveByByteRowAndData) {
    Memory(Counting(100));
    QTest::keyClick(&view, Qt::Key_Down);
    QTest::keyClick(&view, Qt::Key_Right);
    EXPECT_EQ(view.CaretOffset(), 17u);
    QTest::keyClick(&view, Qt::Key_End);
    EXPECT_EQ(view.CaretOffset(), 31u);
    QTest::keyClick(&view, Qt::Key_Home);
    EXPECT_EQ(view.CaretOffset(), 16u);
    QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(view.Selection().start, 16u);
    EXPECT_EQ(view.Selection().end, 100u);
    QTest::keyClick(&view, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_TRUE(view.Selection().Empty());
    EXPECT_EQ(view.CaretOffset(), 0u);
    QTest::keyClick(&view, Qt::Key_Left);
    EXPECT_EQ(view.CaretOffset(), 0u);
}

TEST_F(ViewerSelection, AClampedSelectionStaysInTheData) {
    Memory(Counting(20));
    view.SetSelection(5, 1000);
    EXPECT_EQ(view.Selection().end, 20u);
}

TEST_F(ViewerSelection, AMouseDragSelectsFromThePressedByteThroughTheOneUnderThePointer) {
    Memory(Counting(64));
    // Find the pixel of a byte from the painted layout: the column of its digits.
    const QString row = view.RowText(1);
    const QString digits = QString::asprintf("%02X", Counting(64)[16 + 5]);
    const int column = static_cast<int>(row.indexOf(digits, 10));
    ASSERT_GT(column, 0);
    const int charWidth = view.fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int line = view.fontMetrics().height();
    const QPoint pressed(column * charWidth + 1, line + line + line / 2);
    const QPoint released(pressed.x() + 3 * charWidth * 3, pressed.y());
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, pressed);
    QMouseEvent move(QEvent::MouseMove, released, view.viewport()->mapToGlobal(released),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view.viewport(), &move);
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, released);
    EXPECT_EQ(view.ActiveArea(), HexView::Area::Hex);
    EXPECT_EQ(view.Selection().start, 21u);
    EXPECT_EQ(view.Selection().end, 25u);
}

// Sectors served from memory; the sectors in `bad` fail, alone or in a larger read.
struct FakeDisk {
    std::vector<std::uint8_t> bytes;
    std::set<std::uint64_t> bad;
    std::uint32_t Read(std::span<std::uint8_t> out, std::uint64_t sector, std::uint64_t count) {
        for (std::uint64_t s = sector; s < sector + count; ++s) {
            if (bad.count(s) != 0)
                return 0;
        }
        std::memcpy(out.data(), bytes.data() + sector * 512, count * 512);
        return static_cast<std::uint32_t>(count * 512);
    }
    SectorByteSource::SectorReader Reader() {
        return [this](std::span<std::uint8_t> out, std::uint64_t sector, std::uint64_t count) {
            return Read(out, sector, count);
        };
    }
};

TEST(ViewerSectors, AnUnreadableSectorShowsAsUnreadableNotAsZeros) {
    FakeDisk disk{Counting(16 * 512), {3}};
    auto source = std::make_shared<SectorByteSource>("disk", 16, disk.Reader());
    std::vector<std::uint8_t> out(4096);
    std::vector<std::uint8_t> bad(4096);
    ASSERT_EQ(source->Read(0, out, bad), 4096u);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const bool lost = i >= 3 * 512 && i < 4 * 512;
        ASSERT_EQ(bad[i] != 0, lost) << i;
        if (!lost) {
            ASSERT_EQ(out[i], disk.bytes[i]) << i;
        }
    }
    HexView view;
    view.SetSource(source);
    const QString inside = view.RowText(3 * 512 / 16);
    EXPECT_EQ(inside.mid(10, 49).toStdString(),
              "?? ?? ?? ?? ?? ?? ?? ??  ?? ?? ?? ?? ?? ?? ?? ?? ");
    const QString before = view.RowText(3 * 512 / 16 - 1);
    EXPECT_FALSE(before.contains(QLatin1Char('?')));
    EXPECT_TRUE(before.contains(QString::asprintf("%02X", disk.bytes[3 * 512 - 1])));
    // The view copies the bytes it has; a volume is never written.
    EXPECT_TRUE(view.IsReadOnly());
    EXPECT_FALSE(source->Write(0, 1));
}

TEST(ViewerSectors, PagesComeFromTheCacheAndTheLastPageMayBeShort) {
    FakeDisk disk{Counting(11 * 512), {}};
    SectorByteSource source("disk", 11, disk.Reader());
    std::vector<std::uint8_t> out(100);
    source.Read(10, out);
    source.Read(500, out);
    EXPECT_EQ(source.ReaderCalls(), 1u);
    EXPECT_EQ(source.Size(), 11u * 512);
    EXPECT_EQ(source.Read(11 * 512 - 40, out), 40u);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 40, disk.bytes.end() - 40));
    EXPECT_EQ(source.Read(11 * 512, out), 0u);
}

// A volume in memory for the found-object stream.
class MemoryTreeVolume : public filesystems::TreeVolume {
  public:
    explicit MemoryTreeVolume(FakeDisk& disk) : disk_(disk) {}
    std::uint64_t NodeId() const override { return 1; }
    char DriveLetterOrZero() const override { return 0; }
    std::uint64_t VolumeSize() const override { return disk_.bytes.size(); }
    std::uint32_t ReadVolumeSectors(std::span<std::uint8_t> buffer, std::uint64_t sector,
                                    std::uint64_t count) override {
        return disk_.Read(buffer, sector, count);
    }
    void CountSectorPhaseFile() override {}

  private:
    FakeDisk& disk_;
};

TEST(ViewerFoundObject, ShowsTheObjectsBytesUpTo64KiB) {
    FakeDisk disk{Counting(300 * 512), {}};
    MemoryTreeVolume volume(disk);
    filesystems::FoundObject file;
    file.Flags = filesystems::ObjectFlags::IsFile | filesystems::ObjectFlags::Deleted;
    file.Start = 1024 + 7;
    file.Size = 300;
    ui::FoundObjectByteSource small(volume, file);
    ASSERT_EQ(small.Size(), 300u);
    std::vector<std::uint8_t> out(300);
    ASSERT_EQ(small.Read(0, out), 300u);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), disk.bytes.begin() + 1031));

    file.Size = 1 << 20;
    EXPECT_EQ(ui::FoundObjectByteSource(volume, file).Size(), 65536u);

    filesystems::FoundObject folder;
    folder.Flags = filesystems::ObjectFlags::Folder;
    folder.Start = 512 * 290;
    folder.Size = 0;
    // A folder shows its directory data, up to the end of the volume.
    EXPECT_EQ(ui::FoundObjectByteSource(volume, folder).Size(), 10u * 512);
}

TEST(ViewerFoundObject, LostSectorsOfAnObjectAreMarked) {
    FakeDisk disk{Counting(40 * 512), {5}};
    MemoryTreeVolume volume(disk);
    filesystems::FoundObject file;
    file.Flags = filesystems::ObjectFlags::IsFile | filesystems::ObjectFlags::Deleted;
    file.Start = 4 * 512;
    file.Size = 3 * 512;
    ui::FoundObjectByteSource source(volume, file);
    std::vector<std::uint8_t> out(3 * 512);
    std::vector<std::uint8_t> bad(3 * 512);
    ASSERT_EQ(source.Read(0, out, bad), out.size());
    for (std::size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(bad[i] != 0, i >= 512 && i < 1024) << i;
    EXPECT_EQ(out[0], disk.bytes[4 * 512]);
    EXPECT_EQ(out[1024], disk.bytes[6 * 512]);
}

// A sparse image of 4 TB: 2^38 rows, far past what QScrollBar's int can count.
class ViewerBigVolume : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto image = dir_ / "4tb.img";
        { std::ofstream create(image); }
        std::error_code error;
        std::filesystem::resize_file(image, kSize, error);
        if (error)
            GTEST_SKIP() << "no sparse file of 4 TB here: " << error.message();
        machine_ = std::make_unique<UiMachine>(dir_ / "home");
        std::string why;
        volume_ = machine_->Computer().CreateImageVolume(image, why);
        ASSERT_NE(volume_, nullptr) << why;
        source_ = ui::MakeVolumeByteSource(*volume_);
        view_.resize(720, 300);
        view_.show();
        view_.setFocus();
        view_.SetSource(source_);
    }
    std::uint64_t LastTopOffset() {
        return (kSize / 16 - static_cast<std::uint64_t>(view_.VisibleRows())) * 16;
    }

    static constexpr std::uint64_t kSize = std::uint64_t{1} << 42;
    TempFolder dir_;
    std::unique_ptr<UiMachine> machine_;
    std::shared_ptr<devices::CVolume> volume_;
    std::shared_ptr<SectorByteSource> source_;
    HexView view_;
};

TEST_F(ViewerBigVolume, ScrollsToTheLastRowAndShowsItsOffset) {
    ASSERT_EQ(source_->Size(), kSize);
    view_.ScrollToOffset(kSize - 1);
    EXPECT_EQ(view_.TopOffset(), LastTopOffset());
    const QString last = view_.RowText(kSize / 16 - 1);
    EXPECT_TRUE(last.startsWith(QStringLiteral("3FFFFFFFFF0  00 00"))) << last.toStdString();
    // Only the rows on the screen were read: a few pages, never the disk.
    view_.viewport()->grab();
    EXPECT_LE(source_->ReaderCalls(), 4u);
}

TEST_F(ViewerBigVolume, TheScrollBarReachesEveryPartOfTheDisk) {
    QScrollBar* bar = view_.verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    bar->setValue(bar->maximum());
    EXPECT_EQ(view_.TopOffset(), LastTopOffset());
    bar->setValue(bar->maximum() / 2);
    const std::uint64_t middle = view_.TopOffset();
    EXPECT_GT(middle, kSize / 2 - kSize / 1000);
    EXPECT_LT(middle, kSize / 2 + kSize / 1000);
    // A step of the bar is one row, however coarse its value.
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(view_.TopOffset(), middle + 16);
    bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(view_.TopOffset(),
              middle + 16 - 16 * static_cast<std::uint64_t>(view_.VisibleRows()));
    bar->setValue(0);
    EXPECT_EQ(view_.TopOffset(), 0u);
}

TEST_F(ViewerBigVolume, CtrlEndGoesToTheLastByteAndTypingIsRefused) {
    QTest::keyClick(&view_, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(view_.CaretOffset(), kSize - 1);
    EXPECT_EQ(view_.TopOffset(), LastTopOffset());
    QTest::keyClick(&view_, Qt::Key_Down);
    EXPECT_EQ(view_.CaretOffset(), kSize - 1);
    QTest::keyClicks(&view_, QStringLiteral("ff"));
    EXPECT_EQ(view_.UndoStack().count(), 0);
    std::uint8_t last = 1;
    ASSERT_EQ(source_->Read(kSize - 1, std::span(&last, 1)), 1u);
    EXPECT_EQ(last, 0);
}

}  // namespace
}  // namespace duzez::test
