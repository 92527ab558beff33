#include "ui/explorer/explore_view.h"

#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QSplitter>
#include <QStackedWidget>
#include <QTextBrowser>
#include <QTreeView>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "devices/local_computer.h"
#include "platform/program_folders.h"
#include "ui/explorer/display_filter.h"
#include "ui/explorer/find_bar.h"
#include "ui/explorer/find_in_found.h"
#include "ui/explorer/object_walk.h"
#include "ui/explorer/size_text.h"
#include "ui/explorer/trash_view.h"
#include "ui/explorer/volume_info.h"
#include "ui/frame/questions.h"
#include "ui/help/help_window.h"
#include "ui/viewer/thumbnails.h"

namespace duzez::ui {

using devices::CVolume;
using filesystems::FoundObject;

ExploreView::ExploreView(devices::CLocalComputer& computer, Questions& questions, QWidget* parent)
    : QWidget(parent),
      computer_(computer),
      treeModel_(computer, checks_, this),
      listModel_(checks_, this),
      search_(std::make_unique<FindInFound>()),
      questions_(questions) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    splitter_ = new QSplitter(Qt::Horizontal, this);
    layout->addWidget(splitter_);
    left_ = new QStackedWidget(splitter_);
    right_ = new QStackedWidget(splitter_);
    splitter_->setStretchFactor(1, 3);

    tree_ = new QTreeView(left_);
    tree_->setObjectName(QStringLiteral("filesTree"));
    tree_->setModel(&treeModel_);
    tree_->setHeaderHidden(true);
    tree_->setUniformRowHeights(true);
    tree_->installEventFilter(this);
    left_->addWidget(tree_);
    findBar_ = new FindBar(left_);
    left_->addWidget(findBar_);
    connect(findBar_, &FindBar::SearchRequested, this, [this] {
        CVolume* volume = computer_.ActiveVolume.load();
        if (volume == nullptr || !treeModel_.IsAnalysed(*volume))
            volume = SelectedVolume();
        if (volume != nullptr)
            StartSearch(*volume);
    });
    connect(findBar_, &FindBar::Cancelled, this, [this] {
        CancelSearch();
        SetMode(ViewMode::Files);
    });

    list_ = new QTreeView(right_);
    list_->setObjectName(QStringLiteral("fileList"));
    list_->setModel(&listModel_);
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setSortingEnabled(true);
    list_->sortByColumn(-1, Qt::AscendingOrder);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->header()->setStretchLastSection(false);
    list_->header()->resizeSection(FileListModel::Name, 200);
    list_->header()->resizeSection(FileListModel::Size, 100);
    list_->header()->resizeSection(FileListModel::Type, 100);
    list_->header()->resizeSection(FileListModel::Modified, 140);
    list_->installEventFilter(this);
    right_->addWidget(list_);

    thumbnails_ = new ThumbnailProxy(listModel_, this);
    thumbs_ = new QListView(right_);
    thumbs_->setObjectName(QStringLiteral("thumbnails"));
    thumbs_->setModel(thumbnails_);
    thumbs_->setViewMode(QListView::IconMode);
    thumbs_->setIconSize(QSize(ThumbnailProxy::kEdge, ThumbnailProxy::kEdge));
    thumbs_->setGridSize(QSize(ThumbnailProxy::kEdge + 40, ThumbnailProxy::kEdge + 36));
    thumbs_->setResizeMode(QListView::Adjust);
    thumbs_->setWordWrap(true);
    thumbs_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    thumbs_->installEventFilter(this);
    right_->addWidget(thumbs_);
    connect(thumbs_, &QListView::doubleClicked, this, [this] { OpenFocused(); });
    connect(thumbs_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { emit CurrentChanged(); });

    information_ = new QTreeWidget(right_);
    information_->setObjectName(QStringLiteral("volumeInformation"));
    information_->setColumnCount(2);
    information_->setRootIsDecorated(false);
    information_->setHeaderLabels({tr("Property"), tr("Value")});
    information_->header()->resizeSection(0, 200);
    right_->addWidget(information_);

    overview_ = new QTextBrowser(right_);
    overview_->setObjectName(QStringLiteral("overview"));
    overview_->setOpenLinks(false);
    connect(overview_, &QTextBrowser::anchorClicked, this, [this](const QUrl& link) {
        if (link.isRelative() && !link.path().isEmpty())
            HelpWindow::ShowPage(link.toString(), this);
    });
    right_->addWidget(overview_);

    trash_ = new TrashView(questions, right_);
    right_->addWidget(trash_);
    connect(trash_, &TrashView::ItemCountChanged, this,
            [this](int count) { treeModel_.SetTrashFull(count > 0); });

    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { OnTreeCurrentChanged(current); });
    connect(list_, &QTreeView::doubleClicked, this, [this] { OpenFocused(); });
    connect(list_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { emit CurrentChanged(); });
    connect(&listModel_, &FileListModel::ChecksChanged, this,
            [this](CVolume* volume, const std::vector<const FoundObject*>& changed) {
                if (volume != nullptr)
                    treeModel_.ObjectChecksChanged(*volume, changed);
            });
    connect(&treeModel_, &FilesTreeModel::ChecksChanged, this,
            [this] { listModel_.RepaintChecks(); });
    connect(&treeModel_, &QAbstractItemModel::modelReset, this, [this] {
        listModel_.Clear();
        emit CurrentChanged();
    });
    tree_->expand(treeModel_.index(0, 0));
    ApplyDisplayFilter();
    SetMode(ViewMode::MyComputer);
}

ExploreView::~ExploreView() {
    CancelSearch();
}

void ExploreView::SetMode(int mode, bool force) {
    if (mode == ViewMode::Previous)
        mode = previousMode_ != 0 ? previousMode_ : ViewMode::Files;
    if (mode == mode_ && !force)
        return;
    previousMode_ = mode_;
    mode_ = mode;
    left_->setCurrentWidget(mode == ViewMode::Search ? static_cast<QWidget*>(findBar_) : tree_);
    switch (mode) {
        case ViewMode::VolumeInformation:
            right_->setCurrentWidget(information_);
            break;
        case ViewMode::MyComputer:
            ShowOverview();
            right_->setCurrentWidget(overview_);
            break;
        case ViewMode::RecycleBin:
            trash_->Refresh();
            right_->setCurrentWidget(trash_);
            break;
        default:
            right_->setCurrentWidget(
                thumbnailsOn_ && mode == ViewMode::Files ? static_cast<QWidget*>(thumbs_) : list_);
            break;
    }
}

void ExploreView::SetThumbnails(bool on) {
    thumbnailsOn_ = on;
    if (mode_ == ViewMode::Files)
        right_->setCurrentWidget(on ? static_cast<QWidget*>(thumbs_) : list_);
}

CVolume* ExploreView::SelectedVolume() const {
    CVolume* volume = treeModel_.VolumeAt(tree_->currentIndex());
    // The two root nodes stand for groups of drives, not for something to read.
    if (volume != nullptr && (volume->VolumeType == devices::VolumeKind::ComputerRoot ||
                              volume->VolumeType == devices::VolumeKind::ImagesRoot)) {
        return nullptr;
    }
    return volume;
}

bool ExploreView::VolumeNodeSelected() const {
    const QModelIndex current = tree_->currentIndex();
    return current.isValid() && treeModel_.ObjectAt(current) == nullptr;
}

FoundObject* ExploreView::FocusedObject() const {
    if (mode_ != ViewMode::Files && mode_ != ViewMode::Search)
        return nullptr;
    if (right_->currentWidget() == thumbs_)
        return listModel_.ObjectAt(thumbnails_->mapToSource(thumbs_->currentIndex()));
    return listModel_.ObjectAt(list_->currentIndex());
}

std::vector<FoundObject*> ExploreView::SelectedObjects() const {
    std::vector<FoundObject*> objects;
    if (right_->currentWidget() == thumbs_) {
        for (const QModelIndex& index : thumbs_->selectionModel()->selectedIndexes()) {
            if (FoundObject* object = listModel_.ObjectAt(thumbnails_->mapToSource(index)))
                objects.push_back(object);
        }
        return objects;
    }
    for (const QModelIndex& index : list_->selectionModel()->selectedRows()) {
        if (FoundObject* object = listModel_.ObjectAt(index))
            objects.push_back(object);
    }
    return objects;
}

void ExploreView::RebuildDrives() {
    CVolume* kept = SelectedVolume();
    treeModel_.RebuildDrives();
    tree_->expand(treeModel_.index(0, 0));
    tree_->expand(treeModel_.index(1, 0));
    if (kept != nullptr) {
        for (const auto& volume : computer_.Volumes().Snapshot()) {
            if (volume.get() == kept) {
                SelectVolume(*kept);
                return;
            }
        }
    }
    SetMode(ViewMode::MyComputer, true);
}

void ExploreView::SelectVolume(const CVolume& volume) {
    const QModelIndex index = treeModel_.IndexOf(volume);
    if (!index.isValid())
        return;
    tree_->expand(index.parent());
    tree_->setCurrentIndex(index);
    tree_->scrollTo(index);
}

void ExploreView::ApplyDisplayFilter() {
    const auto passes = [this](const FoundObject& object) {
        return PassesDisplayFilter(object, computer_.Filter(), &computer_.Signatures());
    };
    CVolume* volume = listModel_.Volume();
    FoundObject* folder = listModel_.Folder();
    listModel_.SetFilter(passes);
    CVolume* selected = SelectedVolume();
    treeModel_.SetFilter(passes);
    tree_->expand(treeModel_.index(0, 0));
    tree_->expand(treeModel_.index(1, 0));
    if (selected != nullptr)
        SelectVolume(*selected);
    if (volume != nullptr && folder != nullptr) {
        listModel_.ShowFolder(volume, folder);
        SetMode(ViewMode::Files, true);
    }
}

void ExploreView::StartSearch(CVolume& volume) {
    CancelSearch();
    searchVolume_ = &volume;
    listModel_.ShowResults(&volume, {});
    search_->Start(*volume.FoundObjectTree, findBar_->Criteria());
    findBar_->SetSearching(true);
    right_->setCurrentWidget(list_);
}

void ExploreView::CancelSearch() {
    search_->Cancel();
    search_->Wait();
    findBar_->SetSearching(false);
}

bool ExploreView::Searching() const {
    return search_->Running();
}

void ExploreView::UpdateSearch() {
    if (searchVolume_ == nullptr)
        return;
    const bool running = search_->Running();
    if (listModel_.Volume() == searchVolume_ && listModel_.Folder() == nullptr)
        listModel_.AppendResults(search_->TakeResults());
    if (running)
        return;
    findBar_->SetSearching(false);
    searchVolume_ = nullptr;
    if (search_->FinishedWithoutMatch())
        questions_.Tell(this, tr("Search"), tr("No files found"));
}

void ExploreView::BeginAnalysis(CVolume& volume) {
    thumbnails_->Forget();
    // The search reads the objects the analysis is about to free.
    if (searchVolume_ == &volume) {
        CancelSearch();
        searchVolume_ = nullptr;
    }
    if (listModel_.Volume() == &volume)
        listModel_.Clear();
    treeModel_.BeginAnalysis(volume);
}

void ExploreView::RefreshFound() {
    treeModel_.Refresh();
    listModel_.Refresh();
    tree_->viewport()->update();
    list_->viewport()->update();
}

void ExploreView::OnTreeCurrentChanged(const QModelIndex& current) {
    CVolume* volume = treeModel_.VolumeAt(current);
    FoundObject* object = treeModel_.ObjectAt(current);
    if (treeModel_.IsTrash(current)) {
        SetMode(ViewMode::RecycleBin, true);
    } else if (volume == nullptr) {
        SetMode(ViewMode::MyComputer);
    } else if (object != nullptr) {
        listModel_.ShowFolder(volume, object);
        SetMode(ViewMode::Files);
    } else if (volume->VolumeType == devices::VolumeKind::ComputerRoot ||
               volume->VolumeType == devices::VolumeKind::ImagesRoot) {
        SetMode(ViewMode::MyComputer, true);
    } else if (treeModel_.IsAnalysed(*volume)) {
        listModel_.ShowFolder(volume, &volume->TreeNode);
        SetMode(ViewMode::Files);
    } else {
        ShowVolumeInformation(*volume);
        SetMode(ViewMode::VolumeInformation);
    }
    emit CurrentChanged();
}

void ExploreView::ShowVolumeInformation(CVolume& volume) {
    information_->clear();
    for (const auto& [name, value] : VolumeInformation(volume, computer_.App().Languages()))
        new QTreeWidgetItem(information_, {name, value});
}

void ExploreView::ShowOverview() {
    QString page;
    if (const auto media = platform::FindProgramData("media")) {
        QFile file(QString::fromStdString((*media / "index.html").string()));
        if (file.open(QIODevice::ReadOnly))
            page = QString::fromUtf8(file.readAll());
        overview_->setSearchPaths({QString::fromStdString(media->string())});
    }
    // The drives as they are now, below the welcome text.
    QString drives = QStringLiteral("<h2>%1</h2><table cellpadding=\"3\">")
                         .arg(tr("Drives of this computer").toHtmlEscaped());
    for (const auto& volume : computer_.Volumes().Snapshot()) {
        drives +=
            QStringLiteral("<tr><td>%1</td><td align=\"right\">%2</td><td>%3</td></tr>")
                .arg(QString::fromStdString(volume->DisplayNameText()).toHtmlEscaped(),
                     SizeText(volume->TotalSize, false).toHtmlEscaped(),
                     QString::fromStdString(volume->FileSystem->FileSystemName).toHtmlEscaped());
    }
    drives += QStringLiteral("</table>");
    const int end = page.lastIndexOf(QStringLiteral("</body>"), -1, Qt::CaseInsensitive);
    if (end >= 0)
        page.insert(end, drives);
    else
        page += drives;
    overview_->setHtml(page);
}

void ExploreView::OpenInTree(CVolume& volume, const FoundObject& folder) {
    const QModelIndex index = treeModel_.IndexOf(volume, folder);
    if (!index.isValid())
        return;
    tree_->expand(index.parent());
    tree_->setCurrentIndex(index);
}

void ExploreView::OpenFocused() {
    FoundObject* object = FocusedObject();
    CVolume* volume = listModel_.Volume();
    if (object != nullptr && volume != nullptr && object->Is(filesystems::ObjectFlags::Folder))
        OpenInTree(*volume, *object);
}

void ExploreView::OpenParent() {
    CVolume* volume = listModel_.Volume();
    FoundObject* folder = listModel_.Folder();
    if (volume == nullptr || folder == nullptr)
        return;
    const FoundObject* parent = ParentOf(*volume->FoundObjectTree, *folder, &volume->TreeNode);
    if (parent != nullptr)
        OpenInTree(*volume, *parent);
    else if (folder != &volume->TreeNode)
        SelectVolume(*volume);
}

void ExploreView::SelectNextStartingWith(QChar letter) {
    const int rows = listModel_.rowCount();
    if (rows == 0)
        return;
    const int from = list_->currentIndex().isValid() ? list_->currentIndex().row() : -1;
    const QChar wanted = letter.toUpper();
    for (int step = 1; step <= rows; ++step) {
        const int row = (from + step) % rows;
        const QString name = listModel_.index(row, 0).data().toString();
        if (!name.isEmpty() && name.front().toUpper() == wanted) {
            list_->setCurrentIndex(listModel_.index(row, 0));
            list_->scrollTo(listModel_.index(row, 0));
            return;
        }
    }
}

bool ExploreView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        if (watched == list_ || watched == thumbs_) {
            OpenFocused();
            return true;
        }
    } else if (key->key() == Qt::Key_Backspace) {
        OpenParent();
        return true;
    } else if (watched == list_ && key->modifiers() == Qt::NoModifier && key->text().size() == 1 &&
               key->text().front().isLetterOrNumber()) {
        SelectNextStartingWith(key->text().front());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace duzez::ui
