// Photo previews: a real photo shown from a card the program analysed, and damaged or
// hostile bytes refused with words instead of a crash, a hang or a huge allocation.

#include <gtest/gtest.h>

#include <zlib.h>
#include <QBuffer>
#include <QImage>
#include <QPixmap>

#include "tests/ui/ui_machine.h"
#include "ui/explorer/explore_view.h"
#include "ui/frame/commands.h"
#include "ui/viewer/photo_preview.h"
#include "ui/viewer/thumbnails.h"

namespace duzez::test {
namespace {

QByteArray Encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format));
    return bytes;
}

QImage Gradient(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x % 256, y % 256, (x + y) % 256));
    }
    return image;
}

std::span<const std::uint8_t> Bytes(const QByteArray& data) {
    return {reinterpret_cast<const std::uint8_t*>(data.constData()),
            static_cast<std::size_t>(data.size())};
}

TEST(PreviewDecode, APhotoIsScaledIntoTheBox) {
    const QByteArray jpeg = Encoded(Gradient(1600, 1200), "JPG");
    const ui::Preview preview = ui::DecodePreview(Bytes(jpeg), QSize(320, 240));
    ASSERT_FALSE(preview.image.isNull()) << preview.problem.toStdString();
    EXPECT_LE(preview.image.width(), 320);
    EXPECT_LE(preview.image.height(), 240);
    EXPECT_GE(preview.image.width(), 300);  // scaled, not a thumbnail of a thumbnail
    EXPECT_TRUE(preview.problem.isEmpty());
}

TEST(PreviewDecode, DamagedAndHostileBytesAreRefusedInWords) {
    // Not a picture at all.
    const QByteArray noise(4096, '\x5A');
    ui::Preview preview = ui::DecodePreview(Bytes(noise), QSize(320, 240));
    EXPECT_TRUE(preview.image.isNull());
    EXPECT_FALSE(preview.problem.isEmpty());

    // A PNG header claiming 60,000 x 60,000 pixels: refused before anything is decoded.
    QByteArray png = Encoded(Gradient(16, 16), "PNG");
    const auto putBigEndian = [&png](int offset, std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            png[offset + i] = static_cast<char>(value >> (24 - 8 * i));
    };
    putBigEndian(16, 60000);
    putBigEndian(20, 60000);
    // The header's checksum follows its change, as a crafted file's would.
    putBigEndian(29, static_cast<std::uint32_t>(
                         ::crc32(0, reinterpret_cast<const Bytef*>(png.constData() + 12), 17)));
    preview = ui::DecodePreview(Bytes(png), QSize(320, 240));
    EXPECT_TRUE(preview.image.isNull());
    EXPECT_TRUE(preview.problem.contains(QStringLiteral("60000"))) << preview.problem.toStdString();

    // Empty data.
    preview = ui::DecodePreview({}, QSize(320, 240));
    EXPECT_TRUE(preview.image.isNull());
    EXPECT_FALSE(preview.problem.isEmpty());

    // The first 600 bytes of a photo: whatever the decoder makes of it, the call returns.
    const QByteArray jpeg = Encoded(Gradient(800, 600), "JPG");
    preview = ui::DecodePreview(Bytes(jpeg.left(600)), QSize(320, 240));
    EXPECT_TRUE(!preview.image.isNull() || !preview.problem.isEmpty());
}

// A card with one real photo and one whose bytes are noise under a photo's name.
TEST(PreviewPane, ShowsAPhotoFromAnAnalysedCardAndSaysWhyNotForNoise) {
    if (!HaveCardTools())
        GTEST_SKIP() << "dosfstools or mtools missing";
    TempFolder dir;
    const QByteArray jpeg = Encoded(Gradient(640, 480), "JPG");
    WriteFile(dir / "REAL.JPG", jpeg.toStdString());
    WriteFile(dir / "NOISE.JPG", std::string(30000, '\x5A'));
    const auto card = dir / "card.img";
    ASSERT_TRUE(RunCommand("mkfs.fat -C -F 16 -s 4 '" + card.string() +
                           "' 20000 && export MTOOLS_SKIP_CHECK=1 && mcopy -i '" + card.string() +
                           "' '" + (dir / "REAL.JPG").string() + "' '" +
                           (dir / "NOISE.JPG").string() + "' ::/"));
    UiMachine machine(dir / "home");
    auto& frame = machine.Frame();
    devices::CVolume* volume = frame.LoadImageFile(QString::fromStdString(card.string()));
    ASSERT_NE(volume, nullptr);
    frame.RunCommand(ui::Command::StartAnalyzing);
    ASSERT_TRUE(WaitUntil([&machine] { return !machine.App().IsBusy(); }));
    const auto named = [volume](std::string_view name) -> const filesystems::FoundObject* {
        for (const auto* object : volume->FoundObjectTree->ListedObjects()) {
            if (object->GetName() == name)
                return object;
        }
        return nullptr;
    };
    ASSERT_NE(named("REAL.JPG"), nullptr);
    ASSERT_NE(named("NOISE.JPG"), nullptr);

    ui::PhotoPreviewPane pane;
    pane.resize(400, 300);
    pane.Show(volume, named("REAL.JPG"));
    ASSERT_TRUE(WaitUntil([&pane] { return pane.HasImage(); }, 10000))
        << pane.Status().toStdString();
    EXPECT_TRUE(pane.Status().contains(QStringLiteral("pixels"))) << pane.Status().toStdString();

    // The grid view: the photo gets a thumbnail, the noise keeps its icon.
    auto& explorer = frame.Explorer();
    explorer.SetThumbnails(true);
    auto& list = explorer.ListModel();
    list.ShowFolder(volume, &volume->FoundObjectTree->RootFolder());
    auto& thumbnails = explorer.Thumbnails();
    const auto decoration = [&](std::string_view name) {
        return thumbnails.data(thumbnails.index(list.RowOf(named(name)), 0), Qt::DecorationRole);
    };
    decoration("REAL.JPG");
    decoration("NOISE.JPG");
    ASSERT_TRUE(WaitUntil([&thumbnails] { return thumbnails.Made() == 1; }, 10000));
    const QVariant thumbnail = decoration("REAL.JPG");
    ASSERT_EQ(thumbnail.typeId(), QMetaType::QPixmap);
    EXPECT_EQ(thumbnail.value<QPixmap>().width(), ui::ThumbnailProxy::kEdge);
    EXPECT_NE(decoration("NOISE.JPG").typeId(), QMetaType::QPixmap);

    pane.Show(volume, named("NOISE.JPG"));
    ASSERT_TRUE(
        WaitUntil([&pane] { return !pane.Status().startsWith(QStringLiteral("Reading")); }, 10000));
    EXPECT_FALSE(pane.HasImage());
    EXPECT_TRUE(pane.Status().contains(QStringLiteral("damaged"))) << pane.Status().toStdString();
    pane.Forget();
}

}  // namespace
}  // namespace duzez::test
