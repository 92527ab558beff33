#include "ui/frame/interface_modes.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include "core/app.h"
#include "devices/local_computer.h"
#include "ui/frame/commands.h"
#include "ui/frame/main_frame.h"
#include "ui/frame/questions.h"
#include "ui/wizard/wizard_window.h"

namespace duzez::ui {

InterfaceModes::InterfaceModes(core::CApp& app, devices::CLocalComputer& computer,
                               Questions& questions)
    : app_(app), computer_(computer), questions_(questions) {}

bool InterfaceModes::SwitchMode(int command) {
    if (command == 0)
        command = static_cast<int>(app_.Settings().InterfaceMode());
    if (current_ != nullptr) {
        switching_ = true;
        current_->close();
        switching_ = false;
    }
    app_.Settings().SetInterfaceMode(static_cast<std::uint32_t>(command));
    QWidget* window = nullptr;
    if (command == Command::ModeWizard4 || command == Command::ModeWizard9)
        window = new WizardWindow(*this, command);
    else
        window = new MainFrame(*this, command);
    window->setAttribute(Qt::WA_DeleteOnClose);
    Place(*window);
    current_ = window;
    window->setWindowTitle(
        QString::fromUtf8(core::CApp::kTitle.data(), static_cast<int>(core::CApp::kTitle.size())));
    window->show();
    window->raise();
    window->activateWindow();
    return true;
}

void InterfaceModes::RebuildForLanguage() {
    QTimer::singleShot(0, [this] {
        if (current_ != nullptr)
            SwitchMode(static_cast<int>(app_.Settings().InterfaceMode()));
    });
}

bool InterfaceModes::RequestExit(QWidget* window) {
    if (app_.Settings().ConfirmShutdown() &&
        !questions_.AskYesNo(window, QObject::tr("Confirmation"),
                             QObject::tr("Are you sure you want to exit the application?"))) {
        return false;
    }
    if (window != nullptr)
        StorePlacement(*window);
    app_.Settings().SaveIfChanged();
    QCoreApplication::quit();
    return true;
}

void InterfaceModes::Place(QWidget& window) const {
    const core::WindowRect stored = app_.Settings().WindowGeometry();
    QRect wanted(stored.left, stored.top, stored.width, stored.height);
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect available =
        screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    if (wanted.width() < 200 || wanted.height() < 150)
        wanted = QRect(available.topLeft(), available.size() * 3 / 4);
    // A placement from a larger screen comes back onto this one.
    wanted.setSize(wanted.size().boundedTo(available.size()));
    if (!available.intersects(wanted))
        wanted.moveTopLeft(available.topLeft());
    window.setGeometry(wanted);
}

void InterfaceModes::StorePlacement(const QWidget& window) {
    const QRect frame = window.geometry();
    app_.Settings().SetWindowGeometry({frame.left(), frame.top(), frame.width(), frame.height()});
}

}  // namespace duzez::ui
