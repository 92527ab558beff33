// duzez: the desktop program. Start-up in its order: settings, the machine, whether drives
// can be read, the splash, the language, the signature database, the first window.

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include "core/app.h"
#include "devices/local_computer.h"
#include "ui/frame/commands.h"
#include "ui/frame/interface_modes.h"
#include "ui/frame/language_translator.h"
#include "ui/frame/main_frame.h"
#include "ui/frame/questions.h"
#include "ui/frame/startup.h"
#include "ui/frame/udisks_opener.h"
#include "ui/wizard/wizard_window.h"

int main(int argc, char* argv[]) {
    QApplication qt(argc, argv);
    QApplication::setApplicationName(QStringLiteral("duzez"));
    QApplication::setApplicationDisplayName(QStringLiteral("Duzez Quarnel"));
    QApplication::setApplicationVersion(QStringLiteral(DUZEZ_VERSION));
    // The installed desktop file and icon carry this name; Wayland matches the window by it.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.quarnel.Duzez"));
    QGuiApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("com.quarnel.Duzez")));

    QCommandLineParser options;
    options.setApplicationDescription(
        QStringLiteral("Finds and recovers deleted photos and files from disks, cards and "
                       "drive images."));
    options.addHelpOption();
    options.addVersionOption();
    options.addOption({QStringLiteral("demo"),
                       QStringLiteral("Start with the demo camera card loaded as a drive image.")});
    options.addPositionalArgument(QStringLiteral("image"),
                                  QStringLiteral("A drive image to load at start."),
                                  QStringLiteral("[image]"));
    options.process(qt);

    using namespace duzez;
    core::CAppOptions appOptions;
    appOptions.workArea = [] {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QRect area = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
        return core::WorkArea{area.right() + 1, area.bottom() + 1};
    };
    core::CApp app(std::move(appOptions));
    app.LoadSettings();

    devices::LocalComputerOptions machine;
    machine.opener = std::make_shared<ui::UdisksDeviceOpener>();
    devices::CLocalComputer computer(app, std::move(machine));

    if (!ui::ThisUserMayReadDrives()) {
        QMessageBox::critical(
            nullptr, QStringLiteral("Error: Administrator access necessary"),
            QStringLiteral(
                "Administrator access necessary. Please run the program using an "
                "administrator's account on your computer.\n\nOn this system: join "
                "the 'disk' group, or install udisks2 (or pkexec) so the desktop can hand the "
                "program read-only access to a drive."));
        return 0;
    }
    if (app.Settings().ShowSplash())
        (new ui::Splash)->show();
    app.ApplyInterfaceLanguage();
    ui::LanguageTranslator translator(app.Languages());
    QCoreApplication::installTranslator(&translator);
    computer.LoadSignatures();

    ui::MessageBoxQuestions questions;
    ui::InterfaceModes modes(app, computer, questions);
    // Every start opens the 4-step wizard, whatever mode was left last.
    if (!modes.SwitchMode(ui::Command::ModeWizard4))
        return 0;

    QString image = options.positionalArguments().value(0);
    if (options.isSet(QStringLiteral("demo"))) {
        std::string error;
        if (const auto card = ui::UnpackDemoCard(error))
            image = QString::fromStdString(card->string());
        else
            questions.Tell(modes.Current(), QStringLiteral("Demo"), QString::fromStdString(error));
    }
    if (!image.isEmpty()) {
        QTimer::singleShot(0, modes.Current(), [&modes, image] {
            if (auto* wizard = qobject_cast<ui::WizardWindow*>(modes.Current()))
                wizard->LoadImageFile(image);
            else if (auto* frame = qobject_cast<ui::MainFrame*>(modes.Current()))
                frame->LoadImageFile(image);
        });
    }
    return QApplication::exec();
}
