// duzez-screenshots OUTDIR [LANGUAGE]: renders the explorer window after analysing the demo card,
// its dialogs and the help window to PNG files, on whatever platform Qt runs (offscreen in
// scripts), so the interface can be looked at without a display.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPalette>
#include <QTabWidget>
#include <QTreeView>
#include <QWidget>
#include <cstdio>

#include "core/app.h"
#include "devices/local_computer.h"
#include "recovery/probable_size.h"
#include "recovery/recovery.h"
#include "ui/dialogs/create_image_dialog.h"
#include "ui/dialogs/file_info_dialog.h"
#include "ui/dialogs/file_types_dialog.h"
#include "ui/dialogs/filters_dialog.h"
#include "ui/dialogs/format_properties_dialog.h"
#include "ui/dialogs/probable_size_dialog.h"
#include "ui/dialogs/recover_dialog.h"
#include "ui/dialogs/recovery_progress_dialog.h"
#include "ui/dialogs/settings_sheet.h"
#include "ui/dialogs/try_open_warning.h"
#include "ui/dialogs/volume_information_dialog.h"
#include "ui/explorer/explore_view.h"
#include "ui/explorer/find_bar.h"
#include "ui/explorer/trash_view.h"
#include "ui/frame/commands.h"
#include "ui/frame/interface_modes.h"
#include "ui/frame/language_translator.h"
#include "ui/frame/main_frame.h"
#include "ui/frame/questions.h"
#include "ui/frame/startup.h"
#include "ui/help/help_window.h"
#include "ui/wizard/wizard_window.h"

namespace {

using namespace duzez;

class YesToAll : public ui::Questions {
  public:
    bool AskYesNo(QWidget*, const QString&, const QString&) override { return true; }
    void Tell(QWidget*, const QString& caption, const QString& text) override {
        std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
    }
};

void Settle(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
}

bool Save(QWidget& widget, const QDir& folder, const char* name) {
    const QString file = folder.filePath(QString::fromLatin1(name) + QStringLiteral(".png"));
    const bool saved = widget.grab().save(file);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(file));
    return saved;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication qt(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: duzez-screenshots OUTDIR [LANGUAGE]\n");
        return 2;
    }
    QDir folder(QString::fromLocal8Bit(argv[1]));
    folder.mkpath(QStringLiteral("."));

    core::CApp app;
    app.LoadSettings();
    devices::CLocalComputer computer(app);
    app.ApplyInterfaceLanguage();
    if (argc == 3)
        app.Languages().SelectLanguageByName(argv[2]);
    ui::LanguageTranslator translator(app.Languages());
    QCoreApplication::installTranslator(&translator);
    computer.LoadSignatures();
    YesToAll questions;
    ui::InterfaceModes modes(app, computer, questions);
    modes.SwitchMode(ui::Command::ModeExplorer);
    auto* frame = qobject_cast<ui::MainFrame*>(modes.Current());
    frame->resize(1100, 720);
    Settle(300);

    std::string error;
    const auto card = ui::UnpackDemoCard(error);
    if (!card) {
        std::fprintf(stderr, "demo card: %s\n", error.c_str());
        return 1;
    }
    Save(*frame, folder, "01-my-computer");
    devices::CVolume* volume = frame->LoadImageFile(QString::fromStdString(card->string()));
    if (volume == nullptr)
        return 1;
    Settle(200);
    Save(*frame, folder, "02-volume-information");
    frame->RunCommand(ui::Command::StartAnalyzing);
    QElapsedTimer waited;
    waited.start();
    while (app.IsBusy() && waited.elapsed() < 60000)
        Settle(100);
    Settle(600);
    // Open the card's root folder and tick it, as a person would.
    auto& explorer = frame->Explorer();
    auto& tree = explorer.TreeModel();
    const QModelIndex root = tree.IndexOf(*volume, volume->FoundObjectTree->RootFolder());
    explorer.TreeView()->expand(root.parent());
    explorer.TreeView()->expand(root);
    explorer.TreeView()->setCurrentIndex(root);
    tree.setData(root, Qt::Checked, Qt::CheckStateRole);
    Settle(300);
    Save(*frame, folder, "03-explorer-after-analysis");

    {  // the dialogs are the window's children: they go before it does
        ui::RecoverDialog recover(app, frame);
        recover.SetDestination(
            QDir::temp().filePath(QStringLiteral("duzez-screenshots-recovered/")));
        recover.show();
        Settle(200);
        Save(recover, folder, "04-recover-dialog");
        recover.close();

        QDir(QDir::temp().filePath(QStringLiteral("duzez-screenshots-recovered")))
            .removeRecursively();
        QWidget* progress = frame->StartRecovery(
            QDir::temp().filePath(QStringLiteral("duzez-screenshots-recovered/")));
        if (progress != nullptr) {
            waited.restart();
            while (!frame->Recovery().Finished() && waited.elapsed() < 60000)
                Settle(100);
            Settle(400);
            Save(*progress, folder, "05-recovery-progress");
            progress->close();
        }

        // A photo of the card: its information and its fragments.
        const filesystems::FoundObject* photo = nullptr;
        for (const auto* object : volume->FoundObjectTree->ListedObjects()) {
            if (object->GetName() == "_MG_0002.JPG" ||
                (photo == nullptr && object->GetName().ends_with(".JPG")))
                photo = object;
        }
        if (photo != nullptr) {
            ui::FileInfoDialog information(*volume, *photo, app, frame);
            information.show();
            Settle(200);
            Save(information, folder, "08-file-information");
            if (QWidget* runs = information.ShowSectorsList()) {
                Settle(200);
                Save(*runs, folder, "09-sectors-list");
                runs->close();
            }
            // The size question as it comes for a file the scan found without an end.
            filesystems::FoundObject carved = *photo;
            carved.Flags =
                filesystems::ObjectFlags::FoundBySignature | filesystems::ObjectFlags::ExtentToNext;
            carved.Size = filesystems::kUnknownSize;
            const recovery::ProbableSize question(carved, *volume->FoundObjectTree,
                                                  &computer.Signatures());
            ui::ProbableSizeDialog size(question, app, frame);
            size.show();
            Settle(200);
            Save(size, folder, "10-probable-size");
            size.close();
        }
        ui::TryOpenWarning warning(app, frame);
        warning.show();
        Settle(200);
        Save(warning, folder, "11-try-open-warning");
        warning.close();
        ui::CreateImageDialog image(*volume, questions, frame);
        image.show();
        Settle(200);
        Save(image, folder, "12-create-image");
        image.close();

        frame->RunCommand(ui::Command::Search);
        explorer.Finder()
            ->findChild<QLineEdit*>(QStringLiteral("namePattern"))
            ->setText(QStringLiteral("*.JPG"));
        emit explorer.Finder()->SearchRequested(explorer.Finder()->Criteria());
        waited.restart();
        while ((explorer.Searching() || explorer.ListModel().rowCount() == 0) &&
               waited.elapsed() < 10000) {
            explorer.UpdateSearch();
            Settle(100);
        }
        Settle(300);
        Save(*frame, folder, "13-find");
        frame->RunCommand(ui::Command::Search);
        explorer.TreeView()->setCurrentIndex(tree.TrashIndex());
        Settle(300);
        Save(*frame, folder, "14-trash");

        // The bottom pane: the data viewer and the preview of a photo, then the thumbnails.
        frame->RunCommand(ui::Command::Search);  // back from the Trash to the files
        // The folder of the card's photos, with a live photo in focus.
        const filesystems::FoundObject* shown = nullptr;
        for (const auto* object : volume->FoundObjectTree->ListedObjects()) {
            if (shown == nullptr && object->GetName().ends_with(".JPG") &&
                !object->Is(filesystems::ObjectFlags::Deleted)) {
                shown = object;
            }
        }
        if (shown != nullptr) {
            const auto* photos = volume->FoundObjectTree->FolderWithId(shown->ParentId);
            const QModelIndex at =
                photos != nullptr ? tree.IndexOf(*volume, *photos) : QModelIndex();
            explorer.TreeView()->setCurrentIndex(at);
            Settle(200);
            const int row = explorer.ListModel().RowOf(shown);
            if (row >= 0)
                explorer.ListView()->setCurrentIndex(explorer.ListModel().index(row, 0));
        }
        frame->ShowDataViewerPage();
        explorer.ListView()->setFocus();
        Settle(300);
        Save(*frame, folder, "15-data-viewer");
        frame->ShowPreviewPage();
        Settle(1500);
        Save(*frame, folder, "16-preview");
        frame->RunCommand(ui::Command::Thumbnails);
        Settle(2500);
        Save(*frame, folder, "17-thumbnails");
        frame->RunCommand(ui::Command::Thumbnails);

        // The settings sheet page by page, the filters and the file types.
        {
            ui::SettingsSheet sheet(app, computer, questions, 0, frame);
            sheet.show();
            for (int page = 0; page < ui::SettingsSheet::kPageCount; ++page) {
                sheet.SetCurrentPage(page);
                Settle(150);
                const std::string name = "20-settings-" + std::to_string(page + 1);
                Save(sheet, folder, name.c_str());
            }
            sheet.close();
            ui::FiltersDialog filters(computer, frame);
            filters.show();
            for (int page = 0; page < filters.Pages()->count(); ++page) {
                filters.Pages()->setCurrentIndex(page);
                Settle(150);
                const std::string name = "21-filters-" + std::to_string(page + 1);
                Save(filters, folder, name.c_str());
            }
            filters.close();
            ui::FileTypesDialog types(computer.Signatures(), ui::FileTypeMark::Search, frame);
            types.show();
            Settle(150);
            Save(types, folder, "22-file-types");
            types.close();
            ui::VolumeInformationDialog information(*volume, app.Languages(), frame);
            information.show();
            for (int page = 0; page < 3; ++page) {
                information.ShowPage(page);
                Settle(150);
                const std::string name = "23-volume-information-" + std::to_string(page + 1);
                Save(information, folder, name.c_str());
            }
            information.close();
            if (const auto* jpeg = computer.Signatures().FindSignatureById(300)) {
                ui::FormatPropertiesDialog properties(*jpeg, computer.Signatures(), frame);
                properties.show();
                for (int page = 0; page < 3; ++page) {
                    properties.ShowPage(page);
                    Settle(150);
                    const std::string name = "24-format-properties-" + std::to_string(page + 1);
                    Save(properties, folder, name.c_str());
                }
                properties.close();
            }
        }
    }

    // The 4-step wizard from the card to its recovered photos, page by page.
    modes.SwitchMode(ui::Command::ModeWizard4);
    auto* wizard = qobject_cast<ui::WizardWindow*>(modes.Current());
    if (wizard != nullptr) {
        wizard->resize(900, 620);
        wizard->LoadImageFile(QString::fromStdString(card->string()));
        Settle(300);
        Save(*wizard, folder, "30-wizard4-1-drive");
        wizard->Next();
        Settle(300);
        Save(*wizard, folder, "30-wizard4-2-destination");
        wizard->Next();
        Settle(400);
        Save(*wizard, folder, "30-wizard4-3-analysing");
        waited.restart();
        while ((app.IsBusy() || wizard->CurrentIndex() < 3) && waited.elapsed() < 60000)
            Settle(100);
        Settle(400);
        Save(*wizard, folder, "30-wizard4-4-view");
        wizard->Next();
        Settle(300);
        Save(*wizard, folder, "30-wizard4-5-finish");
    }
    modes.SwitchMode(ui::Command::ModeWizard9);
    wizard = qobject_cast<ui::WizardWindow*>(modes.Current());
    if (wizard != nullptr) {
        wizard->resize(900, 620);
        for (int page = 0; page < wizard->PageCount(); ++page) {
            wizard->GoTo(page);
            Settle(200);
            const std::string name = "31-wizard9-" + std::to_string(page + 1);
            Save(*wizard, folder, name.c_str());
            if (app.IsBusy()) {
                wizard->StopAnalysis();
                Settle(200);
            }
        }
    }
    modes.SwitchMode(ui::Command::ModeExplorer);
    frame = qobject_cast<ui::MainFrame*>(modes.Current());

    ui::HelpWindow* help = ui::HelpWindow::ShowPage(QStringLiteral("help/index.html"));
    Settle(300);
    Save(*help, folder, "06-help");
    help->Open(QStringLiteral("about.html"));
    Settle(200);
    Save(*help, folder, "07-about");
    help->close();

    // The same pages under a dark palette: every page must stay readable there too.
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
    dark.setColor(QPalette::WindowText, QColor(0xe6, 0xe6, 0xe6));
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    dark.setColor(QPalette::AlternateBase, QColor(0x2b, 0x2b, 0x2b));
    dark.setColor(QPalette::Text, QColor(0xe6, 0xe6, 0xe6));
    dark.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::ButtonText, QColor(0xe6, 0xe6, 0xe6));
    dark.setColor(QPalette::Highlight, QColor(0x3a, 0x78, 0xb5));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    QApplication::setPalette(dark);
    modes.SwitchMode(ui::Command::ModeExplorer);
    frame = qobject_cast<ui::MainFrame*>(modes.Current());
    frame->resize(1100, 720);
    if (auto* bottom = frame->findChild<QTabWidget*>(QStringLiteral("bottomPane")))
        bottom->setCurrentIndex(0);  // the legend
    Settle(400);
    Save(*frame, folder, "40-dark-my-computer");
    help = ui::HelpWindow::ShowPage(QStringLiteral("help/index.html"));
    Settle(300);
    Save(*help, folder, "41-dark-help");
    help->close();
    modes.SwitchMode(ui::Command::ModeWizard4);
    if (QWidget* start = modes.Current()) {
        start->resize(900, 620);
        Settle(300);
        Save(*start, folder, "42-dark-wizard");
    }
    modes.Current()->close();
    return 0;
}
