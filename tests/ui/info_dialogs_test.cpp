// "Volume Information" over an analysed card, and "File Format Properties" over the
// shipped formats: what each page says, and the signature page stepping through a
// format's patterns with its data and mask shown byte for byte.

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

#include "signatures/signature_database.h"
#include "tests/ui/ui_machine.h"
#include "ui/dialogs/format_properties_dialog.h"
#include "ui/dialogs/volume_information_dialog.h"
#include "ui/viewer/byte_source.h"
#include "ui/viewer/hex_view.h"

namespace duzez::test {
namespace {

using ui::FormatPropertiesDialog;
using ui::VolumeInformationDialog;

QString Row(const VolumeInformationDialog& dialog, int page, const QString& label) {
    for (const auto& [name, value] : dialog.Rows(page)) {
        if (name == label)
            return value;
    }
    ADD_FAILURE() << "no row " << label.toStdString();
    return {};
}

class VolumeInformationTest : public AnalysedCardTest {};

TEST_F(VolumeInformationTest, DescribesTheCardAsMkfsMadeIt) {
    // The analysis thread sets the state last, after the program stopped being busy.
    ASSERT_TRUE(WaitUntil(
        [this] { return volume_->VolumeState.load() == devices::VolumeStatus::Ready; }, 10000));
    VolumeInformationDialog dialog(*volume_, machine_->App().Languages());
    using Page = VolumeInformationDialog;
    EXPECT_EQ(Row(dialog, Page::kGeneral, "FileSystem:"), QStringLiteral("FAT16"));
    EXPECT_EQ(Row(dialog, Page::kGeneral, "Status:"), QStringLiteral("Ready"));
    EXPECT_EQ(Row(dialog, Page::kGeneral, "OEM ID:"), QStringLiteral("mkfs.fat"));
    EXPECT_EQ(Row(dialog, Page::kGeneral, "S/N:"),
              QString::number(volume_->SerialNumber, 16).toUpper());
    EXPECT_NE(volume_->SerialNumber, 0u);
    EXPECT_TRUE(Row(dialog, Page::kGeneral, "Total Space:")
                    .contains(QStringLiteral("(%1 bytes)").arg(volume_->TotalSize)));
    // The free space mtools counts on the same card.
    const std::string free = CommandOutput("MTOOLS_SKIP_CHECK=1 mdir -i '" + volume_->DevicePath +
                                           "' ::/ | sed -n 's/ bytes free.*//p' | tr -d ' \\n'");
    ASSERT_FALSE(free.empty());
    EXPECT_TRUE(Row(dialog, Page::kGeneral, "Free Space:")
                    .contains(QStringLiteral("(%1 bytes)").arg(QString::fromStdString(free))))
        << Row(dialog, Page::kGeneral, "Free Space:").toStdString() << " vs " << free;
    // mkfs.fat -s 4: four 512-byte sectors per cluster, and a card image starts at 0.
    EXPECT_EQ(Row(dialog, Page::kInformation, "Sectors per Cluster:"), QStringLiteral("4"));
    EXPECT_EQ(Row(dialog, Page::kInformation, "Bytes per Sector:"), QStringLiteral("512"));
    EXPECT_EQ(Row(dialog, Page::kInformation, "Bytes per Cluster:"), QStringLiteral("2048"));
    EXPECT_EQ(Row(dialog, Page::kInformation, "Offset from Physical:"), QStringLiteral("0"));
    // FAT keeps the case of long names in UTF-16, and nothing of what NTFS adds.
    EXPECT_EQ(Row(dialog, Page::kCapabilities, "Preserves the case of file names:"),
              QStringLiteral("Yes"));
    EXPECT_EQ(Row(dialog, Page::kCapabilities, "Unicode in filenames as they appear on disk:"),
              QStringLiteral("Yes"));
    EXPECT_EQ(Row(dialog, Page::kCapabilities, "Named streams:"), QStringLiteral("No"));
    EXPECT_EQ(Row(dialog, Page::kCapabilities, "Preserves and enforces ACLs:"),
              QStringLiteral("No"));
    EXPECT_EQ(dialog.Rows(Page::kCapabilities).size(), 13u);
    // The labels the pages show are the rows.
    const auto labels = dialog.findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [](const QLabel* label) {
        return label->text() == QStringLiteral("mkfs.fat");
    }));
}

class FormatPropertiesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        machine_ = std::make_unique<UiMachine>(dir_ / "home");
        const auto shipped =
            std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "data" /
            "signatures.reg";
        std::string error;
        ASSERT_TRUE(machine_->App().Store().ImportFile(shipped, &error)) << error;
        machine_->Computer().Signatures().LoadDatabase();
    }
    std::vector<std::uint8_t> Shown(ui::HexView& view) {
        const auto& source = view.Source();
        if (!source)
            return {};
        std::vector<std::uint8_t> bytes(source->Size());
        EXPECT_EQ(source->Read(0, bytes), bytes.size());
        return bytes;
    }
    TempFolder dir_;
    std::unique_ptr<UiMachine> machine_;
};

TEST_F(FormatPropertiesTest, StepsThroughEveryPatternShowingItsDataAndMask) {
    auto& database = machine_->Computer().Signatures();
    const signatures::Signature* format = nullptr;
    for (const auto& candidate : database.Signatures()) {
        if (candidate->IsGroup == 0 && candidate->Patterns.size() >= 2) {
            format = candidate.get();
            break;
        }
    }
    ASSERT_NE(format, nullptr) << "no shipped format with two patterns";
    FormatPropertiesDialog dialog(*format, database);
    QPushButton* next = nullptr;
    QPushButton* previous = nullptr;
    for (auto* button : dialog.findChildren<QPushButton*>()) {
        if (button->text() == QStringLiteral("Next >"))
            next = button;
        if (button->text() == QStringLiteral("< Previous"))
            previous = button;
    }
    ASSERT_NE(previous, nullptr);
    ASSERT_NE(next, nullptr);
    EXPECT_FALSE(previous->isEnabled());
    for (std::size_t index = 0; index < format->Patterns.size(); ++index) {
        EXPECT_EQ(dialog.CurrentPattern(), index);
        const auto& pattern = format->Patterns[index];
        const auto data = Shown(dialog.DataView());
        const auto mask = Shown(dialog.MaskView());
        ASSERT_EQ(data.size(), 512u);
        ASSERT_EQ(mask.size(), 512u);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), pattern.Value.begin())) << index;
        EXPECT_TRUE(std::equal(mask.begin(), mask.end(), pattern.Mask.begin())) << index;
        EXPECT_EQ(next->isEnabled(), index + 1 < format->Patterns.size());
        next->click();
    }
    EXPECT_EQ(dialog.CurrentPattern(), format->Patterns.size() - 1);
    EXPECT_TRUE(previous->isEnabled());
    previous->click();
    EXPECT_EQ(dialog.CurrentPattern(), format->Patterns.size() - 2);
}

TEST_F(FormatPropertiesTest, JpegStartsWithFfD8AndItsPagesNameIt) {
    auto& database = machine_->Computer().Signatures();
    const signatures::Signature* jpeg = database.FindSignatureById(300);
    ASSERT_NE(jpeg, nullptr);
    FormatPropertiesDialog dialog(*jpeg, database);
    const auto data = Shown(dialog.DataView());
    const auto mask = Shown(dialog.MaskView());
    ASSERT_GE(data.size(), 2u);
    EXPECT_EQ(data[0], 0xFF);
    EXPECT_EQ(data[1], 0xD8);
    EXPECT_NE(mask[0], 0);
    EXPECT_TRUE(dialog.DataView().IsReadOnly());
    const auto labels = dialog.findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [jpeg](const QLabel* label) {
        return label->text() == QString::fromStdString(jpeg->Title);
    }));
}

}  // namespace
}  // namespace duzez::test
