#include "core/settings_fields.h"

#include <array>

#include "core/settings.h"

namespace duzez::core {
namespace {

using K = SettingsField::Kind;
using S = CSettings;

constexpr std::array kFields{
    SettingsField{"Drive rescan pending", S::kRescanPending, K::Flag, 1},
    SettingsField{"Interface language", S::kInterfaceLanguage, K::Signed, 0xFFFFFFFFu},
    SettingsField{"reserved 52", 52, K::Reserved, 1},
    SettingsField{"Bottom pane visible", S::kBottomPaneVisible, K::Flag, 1},
    SettingsField{"Log pane visible", S::kLogPaneVisible, K::Flag, 1},
    SettingsField{"Status bar visible", S::kStatusBarVisible, K::Flag, 1},
    SettingsField{"Toolbar visible", S::kToolbarVisible, K::Flag, 1},
    SettingsField{"Show splash screen at startup", S::kShowSplash, K::Flag, 1},
    SettingsField{"Confirm application shutdown", S::kConfirmShutdown, K::Flag, 1},
    SettingsField{"Confirm scan abort", S::kConfirmScanAbort, K::Flag, 1},
    SettingsField{"Confirm recovery abort", S::kConfirmRecoveryAbort, K::Flag, 1},
    SettingsField{"Confirm file overwrite", S::kConfirmFileOverwrite, K::Flag, 1},
    SettingsField{"Do not show the Try to open warning", S::kNoTryOpenWarning, K::Flag, 0},
    SettingsField{"Custom temporary folder", S::kCustomTempFolder, K::Flag, 0},
    SettingsField{"Save log in file", S::kSaveLogInFile, K::Flag, 0},
    SettingsField{"Write log in system debug window", S::kLogToDebugOutput, K::Flag, 1},
    SettingsField{"Clear log file on startup", S::kClearLogOnStartup, K::Flag, 1},
    SettingsField{"Maximum log file size (KB)", S::kMaxLogFileSizeKb, K::Unsigned, 10240},
    SettingsField{"Update check interval (days)", S::kUpdateCheckDays, K::Signed, 30},
    SettingsField{"Auto pilot", S::kAutoPilot, K::Flag, 0},
    SettingsField{"Keep folder structure", S::kKeepFolderStructure, K::Flag, 0},
    SettingsField{"Log names of found files", S::kLogFoundFileNames, K::Flag, 0},
    SettingsField{"Continue with sector scan", S::kContinueWithSectors, K::Flag, 0},
    SettingsField{"Start next queued volume", S::kStartNextQueued, K::Flag, 1},
    SettingsField{"Scan free space only", S::kScanFreeSpaceOnly, K::Flag, 1},
    SettingsField{"reserved 160", 160, K::Reserved, 1},
    SettingsField{"Read retry attempts", S::kReadRetryAttempts, K::Unsigned, 10},
    SettingsField{"Pause between retries (ms)", S::kRetryPauseMs, K::Unsigned, 0},
    SettingsField{"reserved 172", 172, K::Reserved, 0xA00000},
    SettingsField{"reserved 176", 176, K::Reserved, 1},
    SettingsField{"Interface mode", S::kInterfaceMode, K::Unsigned, 0},
};

}  // namespace

std::span<const SettingsField> SettingsFields() {
    return kFields;
}

}  // namespace duzez::core
