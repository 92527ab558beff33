#include "ui/dialogs/file_types_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QVBoxLayout>
#include <map>

#include "signatures/signature_database.h"
#include "ui/dialogs/format_properties_dialog.h"

namespace duzez::ui {
namespace {

constexpr int kFormatRole = Qt::UserRole + 1;
constexpr int kIsFormatRole = Qt::UserRole + 2;

std::atomic<std::uint32_t>& MarkOf(signatures::Signature& format, FileTypeMark mark) {
    return mark == FileTypeMark::Search ? format.SearchEnable : format.View;
}

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

FileTypesTree::FileTypesTree(signatures::SignatureDatabase& database, FileTypeMark mark,
                             QWidget* parent)
    : QTreeWidget(parent), database_(database), mark_(mark) {
    setObjectName(QStringLiteral("fileTypesTree"));
    setHeaderHidden(true);
    setColumnCount(1);
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& where) {
        QMenu menu(this);
        menu.addAction(tr("Check All"), this, [this] { RunCommand(kCheckAll); });
        menu.addAction(tr("Uncheck All"), this, [this] { RunCommand(kUncheckAll); });
        QAction* properties =
            menu.addAction(tr("Properties..."), this, [this] { RunCommand(kProperties); });
        properties->setEnabled(CurrentFormat() != nullptr);
        menu.exec(viewport()->mapToGlobal(where));
    });
    connect(this, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
        if (item != nullptr && item->data(0, kIsFormatRole).toBool())
            ShowProperties();
    });
    Reload();
}

void FileTypesTree::Reload() {
    clear();
    // Groups in the order their first format comes, as the database lists them.
    std::map<std::int32_t, QTreeWidgetItem*> groups;
    for (const auto& format : database_.Signatures()) {
        if (format->ShowFilesThisType == 0 || format->IsGroup != 0)
            continue;
        auto found = groups.find(format->GroupId);
        if (found == groups.end()) {
            const signatures::Signature* group = database_.FindGroup(format->GroupId);
            if (group != nullptr && group->ShowFilesThisType == 0)
                continue;
            auto* groupItem = new QTreeWidgetItem(this);
            groupItem->setText(0, group != nullptr ? Text(group->Title) : tr("Unknown"));
            groupItem->setFlags(groupItem->flags() | Qt::ItemIsUserCheckable |
                                Qt::ItemIsAutoTristate);
            found = groups.emplace(format->GroupId, groupItem).first;
        }
        auto* item = new QTreeWidgetItem(found->second);
        item->setText(0, Text(format->Title));
        item->setData(0, kFormatRole, format->FormatId);
        item->setData(0, kIsFormatRole, true);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, MarkOf(*format, mark_).load() != 0 ? Qt::Checked : Qt::Unchecked);
    }
}

void FileTypesTree::SetAllChecked(bool checked) {
    for (int g = 0; g < topLevelItemCount(); ++g) {
        QTreeWidgetItem* group = topLevelItem(g);
        for (int f = 0; f < group->childCount(); ++f)
            group->child(f)->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    }
}

void FileTypesTree::StoreMarks() const {
    for (int g = 0; g < topLevelItemCount(); ++g) {
        const QTreeWidgetItem* group = topLevelItem(g);
        for (int f = 0; f < group->childCount(); ++f) {
            const QTreeWidgetItem* item = group->child(f);
            signatures::Signature* format =
                database_.FindSignatureById(item->data(0, kFormatRole).toInt());
            if (format != nullptr)
                MarkOf(*format, mark_).store(item->checkState(0) == Qt::Checked ? 1 : 0);
        }
    }
}

QTreeWidgetItem* FileTypesTree::FormatItem(std::int32_t formatId) const {
    for (int g = 0; g < topLevelItemCount(); ++g) {
        QTreeWidgetItem* group = topLevelItem(g);
        for (int f = 0; f < group->childCount(); ++f) {
            if (group->child(f)->data(0, kFormatRole).toInt() == formatId)
                return group->child(f);
        }
    }
    return nullptr;
}

const signatures::Signature* FileTypesTree::CurrentFormat() const {
    const QTreeWidgetItem* item = currentItem();
    if (item == nullptr || !item->data(0, kIsFormatRole).toBool())
        return nullptr;
    return database_.FindSignatureById(item->data(0, kFormatRole).toInt());
}

void FileTypesTree::ShowProperties() {
    const signatures::Signature* format = CurrentFormat();
    if (format == nullptr)
        return;
    FormatPropertiesDialog properties(*format, database_, this);
    properties.exec();
}

void FileTypesTree::RunCommand(int command) {
    switch (command) {
        case kCheckAll:
            SetAllChecked(true);
            break;
        case kUncheckAll:
            SetAllChecked(false);
            break;
        case kProperties:
            ShowProperties();
            break;
        default:
            break;
    }
}

FileTypesDialog::FileTypesDialog(signatures::SignatureDatabase& database, FileTypeMark mark,
                                 QWidget* parent)
    : QDialog(parent), database_(database) {
    setObjectName(QStringLiteral("fileTypesDialog"));
    setWindowTitle(tr("File Types"));
    auto* layout = new QVBoxLayout(this);
    tree_ = new FileTypesTree(database_, mark, this);
    layout->addWidget(tree_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &FileTypesDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &FileTypesDialog::reject);
    layout->addWidget(buttons);
    resize(420, 480);
}

void FileTypesDialog::accept() {
    tree_->StoreMarks();
    database_.SaveAll();
    QDialog::accept();
}

}  // namespace duzez::ui
