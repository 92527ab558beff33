// duzez-screenshots OUTDIR: renders the explorer window after analysing the demo card, its
// dialogs and the help window to PNG files, on whatever platform Qt runs (offscreen in
// scripts), so the interface can be looked at without a display.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTreeView>
#include <QWidget>
#include <cstdio>

#include "core/app.h"
#include "devices/local_computer.h"
#include "recovery/probable_size.h"
#include "recovery/recovery.h"
#include "ui/dialogs/create_image_dialog.h"
#include "ui/dialogs/file_info_dialog.h"
#include "ui/dialogs/probable_size_dialog.h"
#include "ui/dialogs/recover_dialog.h"
#include "ui/dialogs/recovery_progress_dialog.h"
#include "ui/dialogs/try_open_warning.h"
#include "ui/explorer/explore_view.h"
#include "ui/explorer/find_bar.h"
#include "ui/explorer/trash_view.h"
#include "ui/frame/commands.h"
#include "ui/frame/interface_modes.h"
#include "ui/frame/main_frame.h"
#include "ui/frame/questions.h"
#include "ui/frame/startup.h"
#include "ui/help/help_window.h"

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
    if (argc != 2) {
        std::fprintf(stderr, "usage: duzez-screenshots OUTDIR\n");
        return 2;
    }
    QDir folder(QString::fromLocal8Bit(argv[1]));
    folder.mkpath(QStringLiteral("."));

    core::CApp app;
    app.LoadSettings();
    devices::CLocalComputer computer(app);
    app.ApplyInterfaceLanguage();
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

    ui::RecoverDialog recover(app, frame);
    recover.SetDestination(QDir::temp().filePath(QStringLiteral("duzez-screenshots-recovered/")));
    recover.show();
    Settle(200);
    Save(recover, folder, "04-recover-dialog");
    recover.close();

    QDir(QDir::temp().filePath(QStringLiteral("duzez-screenshots-recovered"))).removeRecursively();
    QWidget* progress =
        frame->StartRecovery(QDir::temp().filePath(QStringLiteral("duzez-screenshots-recovered/")));
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

    ui::HelpWindow* help = ui::HelpWindow::ShowPage(QStringLiteral("help/index.html"));
    Settle(300);
    Save(*help, folder, "06-help");
    help->Open(QStringLiteral("about.html"));
    Settle(200);
    Save(*help, folder, "07-about");
    help->close();
    frame->close();
    return 0;
}
