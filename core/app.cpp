#include "core/app.h"

#include <cassert>

#include "platform/program_folders.h"

namespace duzez::core {
namespace {

std::atomic<CApp*> g_instance{nullptr};

std::filesystem::path DefaultLanguageFolder() {
    return platform::FindProgramData(CLanguages::kFolderName)
        .value_or(platform::ExecutableFolder() / CLanguages::kFolderName);
}

}  // namespace

CApp::CApp(CAppOptions options)
    : store_(std::move(options.storePath)),
      settings_(store_, std::string(kRegistryPath)),
      languages_(options.languageFolder.value_or(DefaultLanguageFolder())),
      shell_(options.shell ? std::move(options.shell) : std::make_unique<platform::XdgOpener>()),
      workArea_(std::move(options.workArea)) {
    switch (store_.Load()) {
        case platform::StoreLoadResult::MovedAside:
            startupProblems_.push_back("The settings store could not be read and was set aside: " +
                                       store_.LastError());
            break;
        case platform::StoreLoadResult::Unreadable:
            startupProblems_.push_back("The settings store could not be read: " +
                                       store_.LastError());
            break;
        default:
            break;
    }
    if (const std::string problem = languages_.LoadProblem(); !problem.empty()) {
        startupProblems_.push_back(problem);
    }
    [[maybe_unused]] CApp* previous = g_instance.exchange(this);
    assert(previous == nullptr && "only one CApp may exist at a time");
}

CApp::~CApp() {
    g_instance.store(nullptr);
}

CApp* CApp::Instance() {
    return g_instance.load();
}

SettingsEnvironment CApp::DefaultsEnvironment() const {
    const WorkArea area = workArea_ ? workArea_() : WorkArea{};
    SettingsEnvironment environment;
    environment.workAreaRight = area.right;
    environment.workAreaBottom = area.bottom;
    environment.tempFolder = platform::SystemTempFolder().string();
    environment.destinationFolder = (platform::HomeFolder() / "Recovered Files").string();
    return environment;
}

bool CApp::LoadSettings() {
    return settings_.LoadSettings(DefaultsEnvironment());
}

bool CApp::ResetSettings() {
    settings_.SetDefaults(DefaultsEnvironment());
    return settings_.SaveSettings();
}

void CApp::ApplyInterfaceLanguage() {
    languages_.SelectLanguage(settings_.InterfaceLanguage());
    settings_.SetInterfaceLanguage(languages_.GetCurrentIndex());
}

void CApp::OnIdle() {
    settings_.SaveIfChanged();
}

void CApp::SetMainWindow(std::shared_ptr<platform::MessageTarget> window) {
    std::lock_guard lock(windowsMutex_);
    mainWindow_ = std::move(window);
}

std::shared_ptr<platform::MessageTarget> CApp::MainWindow() const {
    std::lock_guard lock(windowsMutex_);
    return mainWindow_;
}

void CApp::SetLogPane(std::shared_ptr<platform::MessageTarget> pane) {
    std::lock_guard lock(windowsMutex_);
    logPane_ = std::move(pane);
}

std::shared_ptr<platform::MessageTarget> CApp::LogPane() const {
    std::lock_guard lock(windowsMutex_);
    return logPane_;
}

void CApp::SetWindowTitle(std::string title) {
    std::lock_guard lock(windowsMutex_);
    windowTitle_ = std::move(title);
}

std::string CApp::WindowTitle() const {
    std::lock_guard lock(windowsMutex_);
    return windowTitle_;
}

std::vector<std::string> CApp::StartupProblems() const {
    return startupProblems_;
}

}  // namespace duzez::core
