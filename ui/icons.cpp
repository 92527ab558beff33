#include "ui/icons.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "devices/volume.h"
#include "filesystems/found_object.h"

namespace duzez::ui {
namespace {

using filesystems::FoundObject;
namespace ObjectFlags = filesystems::ObjectFlags;

enum class Shape { Page, Folder, Disk, Card, Computer, Trash, Search, Stop, Play, Save, Help };

struct Drawn {
    Shape shape;
    QColor color;
    bool crossed = false;  // deleted
};

// The fallback drawings: simple shapes in the colours people expect (a red cross for
// deleted, blue for found by content), at 16 and 24 pixels.
QPixmap Draw(const Drawn& drawn, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 16.0, size / 16.0);
    painter.setPen(QPen(drawn.color.darker(160), 1));
    painter.setBrush(drawn.color);
    switch (drawn.shape) {
        case Shape::Page: {
            QPainterPath page;
            page.moveTo(3.5, 1.5);
            page.lineTo(9.5, 1.5);
            page.lineTo(12.5, 4.5);
            page.lineTo(12.5, 14.5);
            page.lineTo(3.5, 14.5);
            page.closeSubpath();
            painter.drawPath(page);
            break;
        }
        case Shape::Folder:
            painter.drawRect(QRectF(1.5, 4.5, 13, 9));
            painter.drawRect(QRectF(1.5, 2.5, 5, 2));
            break;
        case Shape::Disk:
            painter.drawRoundedRect(QRectF(1.5, 4.5, 13, 7), 1.5, 1.5);
            painter.setBrush(Qt::green);
            painter.drawEllipse(QRectF(11, 8, 2, 2));
            break;
        case Shape::Card:
            painter.drawRect(QRectF(3.5, 1.5, 9, 13));
            painter.drawLine(QPointF(5.5, 1.5), QPointF(5.5, 4.5));
            painter.drawLine(QPointF(7.5, 1.5), QPointF(7.5, 4.5));
            break;
        case Shape::Computer:
            painter.drawRect(QRectF(1.5, 2.5, 13, 9));
            painter.drawRect(QRectF(5.5, 12.5, 5, 2));
            break;
        case Shape::Trash:
            painter.drawRect(QRectF(3.5, 4.5, 9, 10));
            painter.drawRect(QRectF(2.5, 2.5, 11, 2));
            break;
        case Shape::Search:
            painter.setBrush(Qt::NoBrush);
            painter.setPen(QPen(drawn.color, 2));
            painter.drawEllipse(QRectF(2, 2, 8, 8));
            painter.drawLine(QPointF(9, 9), QPointF(14, 14));
            break;
        case Shape::Stop:
            painter.drawRect(QRectF(3, 3, 10, 10));
            break;
        case Shape::Play: {
            QPainterPath play;
            play.moveTo(4, 2);
            play.lineTo(13, 8);
            play.lineTo(4, 14);
            play.closeSubpath();
            painter.drawPath(play);
            break;
        }
        case Shape::Save:
            painter.drawRect(QRectF(2.5, 2.5, 11, 11));
            painter.setBrush(Qt::white);
            painter.drawRect(QRectF(4.5, 2.5, 7, 4));
            break;
        case Shape::Help:
            painter.drawEllipse(QRectF(1.5, 1.5, 13, 13));
            painter.setPen(Qt::white);
            painter.drawText(QRectF(1.5, 1.5, 13, 13), Qt::AlignCenter, QStringLiteral("?"));
            break;
    }
    if (drawn.crossed) {
        painter.setPen(QPen(QColor(200, 0, 0), 2));
        painter.drawLine(QPointF(9, 9), QPointF(15, 15));
        painter.drawLine(QPointF(15, 9), QPointF(9, 15));
    }
    return pixmap;
}

QIcon Fallback(const Drawn& drawn) {
    QIcon icon;
    icon.addPixmap(Draw(drawn, 16));
    icon.addPixmap(Draw(drawn, 24));
    icon.addPixmap(Draw(drawn, 32));
    return icon;
}

const QHash<QString, Drawn>& FallbackForName() {
    static const QHash<QString, Drawn> kFallbacks = {
        {QStringLiteral("computer"), {Shape::Computer, QColor(90, 120, 160)}},
        {QStringLiteral("drive-harddisk"), {Shape::Disk, QColor(150, 150, 150)}},
        {QStringLiteral("drive-removable-media"), {Shape::Disk, QColor(120, 150, 200)}},
        {QStringLiteral("media-flash"), {Shape::Card, QColor(70, 90, 180)}},
        {QStringLiteral("drive-optical"), {Shape::Disk, QColor(200, 200, 220)}},
        {QStringLiteral("folder"), {Shape::Folder, QColor(230, 190, 80)}},
        {QStringLiteral("folder-open"), {Shape::Folder, QColor(240, 205, 110)}},
        {QStringLiteral("user-trash"), {Shape::Trash, QColor(160, 160, 160)}},
        {QStringLiteral("user-trash-full"), {Shape::Trash, QColor(130, 130, 130)}},
        {QStringLiteral("edit-find"), {Shape::Search, QColor(60, 60, 60)}},
        {QStringLiteral("document-save"), {Shape::Save, QColor(60, 110, 190)}},
        {QStringLiteral("media-playback-start"), {Shape::Play, QColor(40, 160, 60)}},
        {QStringLiteral("media-playback-stop"), {Shape::Stop, QColor(200, 50, 40)}},
        {QStringLiteral("view-refresh"), {Shape::Play, QColor(60, 130, 200)}},
        {QStringLiteral("help-contents"), {Shape::Help, QColor(60, 110, 190)}},
        {QStringLiteral("help-about"), {Shape::Help, QColor(90, 90, 90)}},
        {QStringLiteral("preferences-system"), {Shape::Computer, QColor(120, 120, 120)}},
        {QStringLiteral("text-x-generic"), {Shape::Page, QColor(245, 245, 245)}},
        {QStringLiteral("image-x-generic"), {Shape::Page, QColor(180, 220, 250)}},
        {QStringLiteral("go-home"), {Shape::Computer, QColor(90, 120, 160)}},
    };
    return kFallbacks;
}

const QIcon& Cached(const Drawn& drawn, int key) {
    static QHash<int, QIcon> cache;
    auto found = cache.find(key);
    if (found == cache.end())
        found = cache.insert(key, Fallback(drawn));
    return *found;
}

}  // namespace

QIcon ThemeIcon(const char* name) {
    const QString themeName = QString::fromLatin1(name);
    static QHash<QString, QIcon> cache;
    if (const auto found = cache.find(themeName); found != cache.end())
        return *found;
    const auto& fallbacks = FallbackForName();
    const auto fallback = fallbacks.find(themeName);
    const QIcon icon =
        QIcon::fromTheme(themeName, fallback != fallbacks.end() ? Fallback(*fallback) : QIcon());
    cache.insert(themeName, icon);
    return icon;
}

QIcon ObjectIcon(const FoundObject& object, bool fileSystemRoot) {
    const bool deleted = object.Is(ObjectFlags::Deleted);
    if (object.Is(ObjectFlags::Folder)) {
        if (fileSystemRoot)
            return ThemeIcon("drive-harddisk");
        if (object.Id == filesystems::SpecialIds::LostFragments)
            return Cached({Shape::Folder, QColor(170, 170, 170), true}, 8);
        if (deleted || object.ParentId == filesystems::SpecialIds::LostFiles)
            return Cached({Shape::Folder, QColor(230, 190, 80), true}, 6);
        if (object.Is(ObjectFlags::HasDeleted))
            return Cached({Shape::Folder, QColor(240, 150, 60)}, 4);
        return ThemeIcon("folder");
    }
    const bool carved = object.Is(ObjectFlags::FoundBySignature);
    const QColor colour = carved ? QColor(150, 190, 250) : QColor(245, 245, 245);
    return Cached({Shape::Page, colour, deleted}, (carved ? 10 : 0) + (deleted ? 1 : 0));
}

QIcon VolumeIcon(const devices::CVolume& volume) {
    namespace Kind = devices::VolumeKind;
    if (volume.VolumeType == Kind::ComputerRoot)
        return ThemeIcon("computer");
    if (volume.VolumeType == Kind::ImagesRoot)
        return ThemeIcon("document-save");
    if (volume.DriveType == devices::DriveCategory::Removable)
        return ThemeIcon("media-flash");
    if (volume.DriveType == devices::DriveCategory::CdDvd)
        return ThemeIcon("drive-optical");
    if (volume.VolumeType == Kind::Image)
        return ThemeIcon("document-save");
    if (volume.VolumeType == Kind::Found)
        return Cached({Shape::Disk, QColor(120, 190, 120)}, 16);
    return ThemeIcon("drive-harddisk");
}

}  // namespace duzez::ui
