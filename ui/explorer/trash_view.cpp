#include "ui/explorer/trash_view.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QFile>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMimeDatabase>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStackedWidget>
#include <QTreeView>
#include <QVBoxLayout>

#include "ui/explorer/size_text.h"
#include "ui/frame/questions.h"
#include "ui/icons.h"

namespace duzez::ui {

namespace {

constexpr int kSortRole = Qt::UserRole;

QString Shown(const std::filesystem::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

}  // namespace

// The rows behind the list; plain items, no object per row.
class TrashModel : public QAbstractTableModel {
  public:
    using QAbstractTableModel::QAbstractTableModel;

    void SetItems(std::vector<TrashItem> items) {
        beginResetModel();
        items_ = std::move(items);
        endResetModel();
    }
    const std::vector<TrashItem>& Items() const { return items_; }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(items_.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : TrashView::ColumnCount;
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount())
            return {};
        const TrashItem& item = items_[static_cast<std::size_t>(index.row())];
        switch (role) {
            case Qt::DisplayRole:
                return Text(item, index.column());
            case Qt::ToolTipRole:
                if (index.column() == TrashView::LocationColumn)
                    return item.Restorable() ? Shown(item.originalPath) : item.pathText;
                return {};
            case Qt::DecorationRole:
                return index.column() == TrashView::NameColumn ? Icon(item) : QVariant();
            case Qt::TextAlignmentRole:
                if (index.column() == TrashView::SizeColumn)
                    return QVariant((Qt::AlignRight | Qt::AlignVCenter).toInt());
                return {};
            case kSortRole:
                switch (index.column()) {
                    case TrashView::DateColumn:
                        return item.deletionDate;
                    case TrashView::SizeColumn:
                        return QVariant::fromValue<qulonglong>(item.size);
                    default:
                        return Text(item, index.column()).toCaseFolded();
                }
            default:
                return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        switch (section) {
            case TrashView::NameColumn:
                return TrashView::tr("Name");
            case TrashView::LocationColumn:
                return TrashView::tr("Original Location");
            case TrashView::DateColumn:
                return TrashView::tr("Date Deleted");
            case TrashView::SizeColumn:
                return TrashView::tr("Size");
            default:
                return {};
        }
    }

  private:
    static QString Text(const TrashItem& item, int column) {
        switch (column) {
            case TrashView::NameColumn:
                // The name it had, not the one the trash gave it to avoid clashes.
                return item.Restorable() ? Shown(item.originalPath.filename())
                                         : QFile::decodeName(QByteArray::fromStdString(item.name));
            case TrashView::LocationColumn:
                return item.Restorable() ? Shown(item.originalPath.parent_path()) : item.pathText;
            case TrashView::DateColumn:
                return item.deletionDate.isValid()
                           ? QLocale().toString(item.deletionDate, QLocale::ShortFormat)
                           : QString();
            case TrashView::SizeColumn:
                return SizeText(item.size, item.folder);
            default:
                return {};
        }
    }

    QIcon Icon(const TrashItem& item) const {
        if (item.folder)
            return ThemeIcon("folder");
        // By name only: reading the content of every trashed file would be slow.
        const QMimeType type = mimes_.mimeTypeForFile(
            QFile::decodeName(QByteArray::fromStdString(item.name)), QMimeDatabase::MatchExtension);
        const QString key = type.iconName();
        if (const auto found = icons_.constFind(key); found != icons_.constEnd())
            return *found;
        const QIcon generic = type.name().startsWith(QLatin1String("image/"))
                                  ? ThemeIcon("image-x-generic")
                                  : ThemeIcon("text-x-generic");
        const QIcon icon =
            QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName(), generic));
        icons_.insert(key, icon);
        return icon;
    }

    std::vector<TrashItem> items_;
    QMimeDatabase mimes_;
    mutable QHash<QString, QIcon> icons_;
};

TrashView::TrashView(Questions& questions, QWidget* parent)
    : QWidget(parent), questions_(questions) {
    model_ = new TrashModel(this);
    sorted_ = new QSortFilterProxyModel(this);
    sorted_->setSourceModel(model_);
    sorted_->setSortRole(kSortRole);

    list_ = new QTreeView;
    list_->setObjectName(QStringLiteral("trashList"));
    list_->setModel(sorted_);
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setSortingEnabled(true);
    list_->sortByColumn(DateColumn, Qt::DescendingOrder);
    list_->header()->setStretchLastSection(false);
    list_->header()->resizeSection(NameColumn, 220);
    list_->header()->resizeSection(LocationColumn, 280);
    list_->header()->resizeSection(DateColumn, 140);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);

    emptyText_ = new QLabel(tr("The trash is empty."));
    emptyText_->setObjectName(QStringLiteral("trashEmptyText"));
    emptyText_->setAlignment(Qt::AlignCenter);
    emptyText_->setEnabled(false);

    pages_ = new QStackedWidget;
    pages_->addWidget(list_);
    pages_->addWidget(emptyText_);

    restoreAction_ = new QAction(ThemeIcon("document-save"), tr("&Restore"), this);
    restoreAction_->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    restoreAction_->setShortcutContext(Qt::WidgetShortcut);
    restoreAction_->setToolTip(tr("Put the selected items back where they were deleted from"));
    list_->addAction(restoreAction_);

    restoreButton_ = new QPushButton(restoreAction_->icon(), tr("Restore"));
    restoreButton_->setObjectName(QStringLiteral("trashRestoreButton"));
    auto* refreshButton = new QPushButton(ThemeIcon("view-refresh"), tr("Refresh"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(restoreButton_);
    buttons->addWidget(refreshButton);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(buttons);
    layout->addWidget(pages_);

    connect(restoreAction_, &QAction::triggered, this, &TrashView::RestoreSelected);
    connect(restoreButton_, &QPushButton::clicked, this, &TrashView::RestoreSelected);
    connect(refreshButton, &QPushButton::clicked, this, &TrashView::Refresh);
    connect(list_, &QWidget::customContextMenuRequested, this, &TrashView::ShowContextMenu);
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TrashView::UpdateActions);
    UpdateActions();
}

TrashView::~TrashView() = default;

void TrashView::SetRoots(std::vector<TrashRoot> roots) {
    roots_ = std::move(roots);
}

void TrashView::Refresh() {
    model_->SetItems(ListTrash(roots_ ? *roots_ : FindTrashRoots()));
    const int count = ItemCount();
    pages_->setCurrentWidget(count == 0 ? static_cast<QWidget*>(emptyText_) : list_);
    UpdateActions();
    emit ItemCountChanged(count);
}

int TrashView::ItemCount() const {
    return model_->rowCount();
}

const TrashItem* TrashView::ItemAt(int row) const {
    const QModelIndex source = sorted_->mapToSource(sorted_->index(row, 0));
    if (!source.isValid())
        return nullptr;
    return &model_->Items()[static_cast<std::size_t>(source.row())];
}

bool TrashView::ShowsEmptyText() const {
    return pages_->currentWidget() == emptyText_;
}

void TrashView::ShowContextMenu(const QPoint& position) {
    if (!list_->indexAt(position).isValid())
        return;
    QMenu menu(this);
    menu.addAction(restoreAction_);
    menu.exec(list_->viewport()->mapToGlobal(position));
}

void TrashView::UpdateActions() {
    const bool any = list_->selectionModel()->hasSelection();
    restoreAction_->setEnabled(any);
    restoreButton_->setEnabled(any);
}

RestoreAnswers TrashView::Answers() {
    RestoreAnswers answers;
    answers.anotherName = [this](const TrashItem&, const std::filesystem::path& taken,
                                 const std::filesystem::path& proposed) {
        return questions_.AskYesNo(
            this, tr("Restore"),
            tr("\"%1\" already exists in %2 and will not be replaced.\n\nRestore under the name "
               "\"%3\" instead?")
                .arg(Shown(taken.filename()), Shown(taken.parent_path()),
                     Shown(proposed.filename())));
    };
    answers.followLink = [this](const TrashItem& item, const std::filesystem::path& link,
                                const std::string& target) {
        return questions_.AskYesNo(
            this, tr("Restore"),
            tr("The folder %1 is a link to %2.\n\nRestore \"%3\" through this link?")
                .arg(Shown(link), QFile::decodeName(QByteArray::fromStdString(target)),
                     Shown(item.originalPath.filename())));
    };
    return answers;
}

void TrashView::RestoreSelected() {
    std::vector<TrashItem> chosen;
    for (const QModelIndex& index : list_->selectionModel()->selectedRows(NameColumn)) {
        const QModelIndex source = sorted_->mapToSource(index);
        if (source.isValid())
            chosen.push_back(model_->Items()[static_cast<std::size_t>(source.row())]);
    }
    if (chosen.empty())
        return;
    const RestoreAnswers answers = Answers();
    QStringList problems;
    for (const TrashItem& item : chosen) {
        const RestoreResult result = RestoreTrashItem(item, answers);
        if (!result.error.isEmpty())
            problems << result.error;
    }
    Refresh();
    if (!problems.isEmpty())
        questions_.Tell(this, tr("Restore"), problems.join(QLatin1Char('\n')));
}

}  // namespace duzez::ui
