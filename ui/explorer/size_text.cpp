#include "ui/explorer/size_text.h"

#include <QCoreApplication>

#include "filesystems/found_object.h"

namespace duzez::ui {

QString SizeText(std::uint64_t size, bool folder) {
    if (folder)
        return {};
    if (size == filesystems::kUnknownSize)
        return QCoreApplication::translate("SizeText", "unknown");
    constexpr std::uint64_t kKilo = 1024;
    if (size > kKilo * kKilo * kKilo)
        return QStringLiteral("%1 GB").arg(size / (kKilo * kKilo * kKilo));
    if (size > kKilo * kKilo)
        return QStringLiteral("%1 MB").arg(size / (kKilo * kKilo));
    if (size > kKilo)
        return QStringLiteral("%1 KB").arg(size / kKilo);
    return QString::number(size);
}

}  // namespace duzez::ui
