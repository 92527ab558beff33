#include "ui/dialogs/file_info_dialog.h"
#include "ui/dialogs/plain_label.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <shared_mutex>

#include "core/app.h"
#include "devices/volume.h"
#include "filesystems/found_object_tree.h"
#include "ui/explorer/file_list_model.h"
#include "ui/icons.h"

namespace duzez::ui {
namespace {

using filesystems::FoundObject;
using filesystems::kUnknownSize;

constexpr std::uint64_t kSectorBytes = 512;

QString Utf8(const std::string& text) {
    return QString::fromStdString(text);
}

QString Decimal(std::uint64_t value) {
    return QString::number(value);
}

QString ByteCount(std::uint64_t bytes, core::CApp& app) {
    if (bytes == kUnknownSize)
        return QStringLiteral("unknown");
    return Decimal(bytes) + QLatin1Char(' ') +
           Utf8(app.Languages().GetString(core::StringId::Bytes));
}

std::uint64_t SizeOnDisk(std::uint64_t size, std::uint32_t clusterSize) {
    if (size == kUnknownSize || clusterSize == 0)
        return size;
    const std::uint64_t clusters = size / clusterSize + (size % clusterSize != 0 ? 1 : 0);
    return clusters * clusterSize;
}

}  // namespace

// Sector numbers throughout, so the three columns share one unit: "Count" is in sectors,
// and a byte offset beside it would read as a sector number.
FileFragment FragmentOf(const FoundObject& object) {
    FileFragment fragment;
    fragment.begin = object.Start / kSectorBytes;
    fragment.count = object.Size == kUnknownSize ? 0 : object.Size / kSectorBytes;
    fragment.end = fragment.begin + fragment.count;
    return fragment;
}

FileRunView::FileRunView(const QString& volumeName, const FoundObject& object, core::CApp& app,
                         QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("fileRunView"));
    // Window titles are plain text.
    setWindowTitle(QStringLiteral("%1:%2 [ Fragments: %3 ]")
                       .arg(volumeName, Utf8(std::string(object.GetName())))
                       .arg(1));
    auto* layout = new QVBoxLayout(this);
    list_ = new QTreeWidget(this);
    list_->setRootIsDecorated(false);
    list_->setColumnCount(3);
    const auto& languages = app.Languages();
    list_->setHeaderLabels({Utf8(languages.GetString(core::StringId::Begin)),
                            Utf8(languages.GetString(core::StringId::End)),
                            Utf8(languages.GetString(core::StringId::Count))});
    list_->header()->setStretchLastSection(false);
    for (int column = 0; column < 3; ++column)
        list_->setColumnWidth(column, 200);
    const FileFragment fragment = FragmentOf(object);
    auto* row = new QTreeWidgetItem(
        list_,
        QStringList{Decimal(fragment.begin), Decimal(fragment.end), Decimal(fragment.count)});
    for (int column = 0; column < 3; ++column)
        row->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(list_);
    resize(640, 160);
}

FileInfoDialog::FileInfoDialog(devices::CVolume& volume, const FoundObject& object, core::CApp& app,
                               QWidget* parent)
    : QDialog(parent), app_(app), volumeName_(Utf8(volume.DisplayNameText())) {
    setObjectName(QStringLiteral("fileInfoDialog"));
    setWindowTitle(tr("File Information"));
    filesystems::FoundObjectTree* tree = volume.FoundObjectTree.get();
    bool fileSystemRoot = false;
    {
        // A running scan may change Size, Flags or SignatureId of a listed object.
        std::shared_lock<std::shared_mutex> lock;
        if (tree != nullptr)
            lock = tree->ReadLock();
        object_ = object;
        if (tree != nullptr)
            fileSystemRoot = object_.Id == tree->RootFolder().Id;
    }
    // The tree's own lookups lock it themselves: they run on the copy.
    QString type;
    QString signature = QStringLiteral("unknown");
    QString location;
    if (tree != nullptr) {
        type = Utf8(tree->GetTypeName(object_));
        location = Utf8(tree->GetFolderPath(object_));
        if (const auto* catalog = tree->Catalog(); catalog != nullptr && object_.SignatureId != 0) {
            if (const auto format = catalog->FindFormatById(object_.SignatureId);
                format && !format->title.empty()) {
                signature = Utf8(format->title);
            }
        }
    }
    const auto& languages = app_.Languages();

    auto* layout = new QVBoxLayout(this);
    auto* head = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setPixmap(ObjectIcon(object_, fileSystemRoot).pixmap(32, 32));
    head->addWidget(icon);
    auto* name = PlainLabel(Utf8(std::string(object_.GetName())), this);
    name->setObjectName(QStringLiteral("name"));
    values_[Field::Name] = name;
    head->addWidget(name, 1);
    layout->addLayout(head);

    auto* grid = new QGridLayout;
    AddRow(grid, Field::Id, tr("Id:"), Decimal(object_.Id));
    AddRow(grid, Field::ParentId, tr("Parent Id:"), Decimal(object_.ParentId));
    AddRow(grid, Field::Offset, tr("Offset:"), Decimal(object_.Start));
    AddRow(grid, Field::Size, tr("Size:"), ByteCount(object_.Size, app_));
    AddRow(grid, Field::SizeOnDisk, tr("Size on disk:"),
           ByteCount(SizeOnDisk(object_.Size, volume.ClusterSize), app_));
    AddRow(grid, Field::Type, tr("Type:"), type);
    AddRow(grid, Field::Signature, tr("Signature:"), signature);
    AddRow(grid, Field::Status, tr("Status:"),
           Utf8(languages.GetString(object_.Is(filesystems::ObjectFlags::Deleted)
                                        ? core::StringId::Deleted
                                        : core::StringId::Live)));
    AddRow(grid, Field::Location, tr("Location:"), location);
    AddRow(grid, Field::Created, tr("Created time:"), LocalTimeText(object_.Created));
    AddRow(grid, Field::Modified, tr("Modified time:"), LocalTimeText(object_.Modified));
    AddRow(grid, Field::Accessed, tr("Accessed time:"), LocalTimeText(object_.Accessed));
    layout->addLayout(grid);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    auto* sectors = buttons->addButton(tr("Sectors List"), QDialogButtonBox::ActionRole);
    sectors->setObjectName(QStringLiteral("sectorsList"));
    connect(sectors, &QPushButton::clicked, this, [this] { ShowSectorsList(); });
    connect(buttons, &QDialogButtonBox::accepted, this, &FileInfoDialog::accept);
    layout->addWidget(buttons);
}

void FileInfoDialog::AddRow(QGridLayout* grid, Field field, const QString& caption,
                            const QString& value) {
    const int row = grid->rowCount();
    grid->addWidget(new QLabel(caption, this), row, 0);
    QLabel* label = PlainLabel(value, this);
    grid->addWidget(label, row, 1);
    values_[field] = label;
}

QString FileInfoDialog::Text(Field field) const {
    const auto it = values_.find(field);
    return it == values_.end() ? QString() : it->second->text();
}

FileRunView* FileInfoDialog::ShowSectorsList() {
    if (runView_ == nullptr)
        runView_ = new FileRunView(volumeName_, object_, app_, this);
    runView_->show();
    runView_->raise();
    return runView_;
}

}  // namespace duzez::ui
