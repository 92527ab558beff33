#pragma once

// The one application object: the per-user store, the settings record, the interface
// languages, the current top-level window and the busy flag.

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/languages.h"
#include "core/settings.h"
#include "platform/messages.h"
#include "platform/registry_store.h"
#include "platform/shell.h"

namespace duzez::core {

struct WorkArea {
    int right = 1024;  // without a display
    int bottom = 768;
};

struct CAppOptions {
    std::filesystem::path storePath = platform::RegistryStore::DefaultPath();
    // Defaults to "Languages" of the installation data.
    std::optional<std::filesystem::path> languageFolder;
    std::unique_ptr<platform::ShellOpener> shell;  // defaults to xdg-open
    // The front end answers with its primary screen's work area before settings load.
    std::function<WorkArea()> workArea;
};

class CApp {
  public:
    static constexpr std::string_view kRegistryPath = "Software\\Quarnel\\Duzez\\1.0";
    static constexpr std::string_view kTitle = "Duzez Quarnel";

    explicit CApp(CAppOptions options = {});
    ~CApp();
    CApp(const CApp&) = delete;
    CApp& operator=(const CApp&) = delete;

    // The live application object, or null before one exists.
    static CApp* Instance();

    platform::RegistryStore& Store() { return store_; }
    const platform::RegistryStore& Store() const { return store_; }
    CSettings& Settings() { return settings_; }
    const CSettings& Settings() const { return settings_; }
    CLanguages& Languages() { return languages_; }
    const CLanguages& Languages() const { return languages_; }
    platform::ShellOpener& Shell() { return *shell_; }

    const std::string& GetRegistryPath() const { return registryPath_; }

    // Loads the settings with defaults for this machine; true when a stored record was used.
    bool LoadSettings();
    // Writes the defaults for this machine into the record and saves it.
    bool ResetSettings();
    // Selects the stored interface language and stores back the index actually selected
    // (-1 keeps the default language; an index beyond the list gives the built-in texts).
    void ApplyInterfaceLanguage();
    // The moment the interface has nothing to do: persist changed settings.
    void OnIdle();

    std::atomic<bool> AnalysisRunning{false};
    bool IsBusy() const { return AnalysisRunning.load(); }

    void SetMainWindow(std::shared_ptr<platform::MessageTarget> window);
    std::shared_ptr<platform::MessageTarget> MainWindow() const;
    void SetLogPane(std::shared_ptr<platform::MessageTarget> pane);
    std::shared_ptr<platform::MessageTarget> LogPane() const;

    void SetWindowTitle(std::string title);
    std::string WindowTitle() const;

    // Problems met before the log existed (a damaged store moved aside, a bad language
    // file); the log reports them when it is created.
    std::vector<std::string> StartupProblems() const;

  private:
    SettingsEnvironment DefaultsEnvironment() const;

    platform::RegistryStore store_;
    CSettings settings_;
    CLanguages languages_;
    std::unique_ptr<platform::ShellOpener> shell_;
    std::function<WorkArea()> workArea_;
    std::string registryPath_{kRegistryPath};
    std::vector<std::string> startupProblems_;

    mutable std::mutex windowsMutex_;
    std::shared_ptr<platform::MessageTarget> mainWindow_;
    std::shared_ptr<platform::MessageTarget> logPane_;
    std::string windowTitle_;
};

}  // namespace duzez::core
