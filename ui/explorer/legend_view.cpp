#include "ui/explorer/legend_view.h"

#include <QFile>
#include <QUrl>

#include "filesystems/found_object.h"
#include "platform/program_folders.h"
#include "ui/icons.h"

namespace duzez::ui {
namespace {

constexpr const char* kFallbackPage = "<html><body><table><!--ROWS--></table></body></html>";
constexpr const char* kRowsMark = "<!--ROWS-->";
constexpr int kIconEdge = 16;

}  // namespace

LegendView::LegendView(QWidget* parent) : QTextBrowser(parent) {
    setObjectName(QStringLiteral("legend"));
    setOpenLinks(false);
    setFrameShape(QFrame::NoFrame);
    QString page = QString::fromLatin1(kFallbackPage);
    if (const auto media = platform::FindProgramData("media")) {
        QFile file(QString::fromStdString((*media / "legend.html").string()));
        if (file.open(QIODevice::ReadOnly)) {
            const QString text = QString::fromUtf8(file.readAll());
            if (text.contains(QLatin1String(kRowsMark)))
                page = text;
        }
    }

    namespace Flags = filesystems::ObjectFlags;
    const std::pair<std::uint32_t, QString> kinds[] = {
        {Flags::IsFile, tr("Live file")},
        {Flags::IsFile | Flags::Deleted, tr("Deleted file")},
        {Flags::FoundBySignature, tr("File found by its content")},
        {Flags::Folder, tr("Folder")},
        {Flags::Folder | Flags::HasDeleted, tr("Folder holding deleted files")},
        {Flags::Folder | Flags::Deleted, tr("Deleted folder")},
    };
    // Two rows of three, as wide as the pane is short.
    QString rows = QStringLiteral("<tr>");
    int index = 0;
    for (const auto& [flags, meaning] : kinds) {
        filesystems::FoundObject sample;
        sample.Flags = flags;
        const QString name = QStringLiteral("legend:%1").arg(index);
        document()->addResource(QTextDocument::ImageResource, QUrl(name),
                                ObjectIcon(sample, false).pixmap(kIconEdge, kIconEdge).toImage());
        if (index == 3)
            rows += QStringLiteral("</tr><tr>");
        rows += QStringLiteral("<td><img src=\"%1\" width=\"%2\" height=\"%2\"> %3</td>")
                    .arg(name)
                    .arg(kIconEdge)
                    .arg(meaning.toHtmlEscaped());
        meanings_ << meaning;
        ++index;
    }
    rows += QStringLiteral("</tr>");
    page.replace(QLatin1String(kRowsMark), rows);
    setHtml(page);
}

}  // namespace duzez::ui
