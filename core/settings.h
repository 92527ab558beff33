#pragma once

// The settings record: one fixed 95,608-byte record stored whole as the value "Settings"
// of the program's key, protected by a checksum. Worker threads read some fields while the
// interface thread edits others, so every 32-bit field is accessed atomically.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace duzez::platform {
class RegistryStore;
}

namespace duzez::core {

// What the defaults depend on, found by the caller (the platform and the front end).
struct SettingsEnvironment {
    int workAreaRight = 1024;  // desktop work area of the primary monitor
    int workAreaBottom = 768;
    std::string tempFolder;
    std::string destinationFolder;
};

struct WindowRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

class CSettings {
  public:
    static constexpr std::size_t kSize = 95608;
    static constexpr std::string_view kValueName = "Settings";

    // Byte offsets of the record's fields.
    enum Offset : std::size_t {
        kChecksum = 0,
        kRescanPending = 36,
        kInterfaceLanguage = 44,
        kBottomPaneVisible = 56,
        kLogPaneVisible = 60,
        kStatusBarVisible = 64,
        kToolbarVisible = 68,
        kShowSplash = 72,
        kConfirmShutdown = 76,
        kConfirmScanAbort = 80,
        kConfirmRecoveryAbort = 84,
        kConfirmFileOverwrite = 88,
        kNoTryOpenWarning = 92,
        kCustomTempFolder = 96,
        kSaveLogInFile = 100,
        kLogToDebugOutput = 104,
        kClearLogOnStartup = 108,
        kMaxLogFileSizeKb = 112,
        kUpdateCheckDays = 116,
        kAutoPilot = 128,
        kKeepFolderStructure = 132,
        kLogFoundFileNames = 140,
        kContinueWithSectors = 144,
        kStartNextQueued = 148,
        kScanFreeSpaceOnly = 152,
        kReadRetryAttempts = 164,
        kRetryPauseMs = 168,
        kInterfaceMode = 1204,
        kPlacement = 1344,
        kWindowLeft = 1372,
        kWindowTop = 1376,
        kWindowWidth = 1380,
        kWindowHeight = 1384,
        kDestinationFolder = 1388,
        kTempFolder = 9580,
        kLogFileName = 17772,
        kReservedText = 19820,
    };
    static constexpr std::size_t kPlacementLength = 44;
    static constexpr std::size_t kFolderCapacity = 4096;  // characters, with the terminator
    static constexpr std::size_t kLogFileNameCapacity = 1024;
    static constexpr std::uint32_t kMaxRetryAttempts = 1000000;
    static constexpr std::uint32_t kMaxRetryPauseMs = 1000000;

    // A zero record with the placement length word set, as at construction of the app.
    CSettings(platform::RegistryStore& store, std::string keyPath);

    // Fills the record from the store, or with defaults (saved at once) when the stored
    // record is missing, of the wrong type or size, or fails its checksum. Returns whether
    // a stored record was used.
    bool LoadSettings(const SettingsEnvironment& environment);
    void SetDefaults(const SettingsEnvironment& environment);
    bool SaveIfChanged();
    bool SaveSettings();
    std::uint32_t Checksum() const;

    // The record's bytes as stored, and the reverse (false for a wrong size).
    std::vector<std::uint8_t> Bytes() const;
    bool Assign(std::span<const std::uint8_t> bytes);

    // Raw field access by byte offset; offsets must be 4-aligned and inside the record.
    std::uint32_t Word(std::size_t offset) const;
    void SetWord(std::size_t offset, std::uint32_t value);
    bool Flag(std::size_t offset) const { return Word(offset) != 0; }
    void SetFlag(std::size_t offset, bool on) { SetWord(offset, on ? 1 : 0); }
    // UTF-16LE text of `capacity` characters including its terminator, as UTF-8.
    std::string Text(std::size_t offset, std::size_t capacity) const;
    void SetText(std::size_t offset, std::size_t capacity, std::string_view text);

    // Typed accessors for the fields other parts use.
    bool RescanPending() const { return Flag(kRescanPending); }
    void SetRescanPending(bool on) { SetFlag(kRescanPending, on); }
    std::int32_t InterfaceLanguage() const {
        return static_cast<std::int32_t>(Word(kInterfaceLanguage));
    }
    void SetInterfaceLanguage(std::int32_t index) {
        SetWord(kInterfaceLanguage, static_cast<std::uint32_t>(index));
    }
    bool ShowSplash() const { return Flag(kShowSplash); }
    bool ConfirmShutdown() const { return Flag(kConfirmShutdown); }
    bool ConfirmScanAbort() const { return Flag(kConfirmScanAbort); }
    bool ConfirmRecoveryAbort() const { return Flag(kConfirmRecoveryAbort); }
    bool NoTryOpenWarning() const { return Flag(kNoTryOpenWarning); }
    bool UseCustomTempFolder() const { return Flag(kCustomTempFolder); }
    bool SaveLogInFile() const { return Flag(kSaveLogInFile); }
    bool LogToDebugOutput() const { return Flag(kLogToDebugOutput); }
    bool ClearLogOnStartup() const { return Flag(kClearLogOnStartup); }
    std::uint32_t MaxLogFileSizeKb() const { return Word(kMaxLogFileSizeKb); }
    bool LogFoundFileNames() const { return Flag(kLogFoundFileNames); }
    bool ContinueWithSectors() const { return Flag(kContinueWithSectors); }
    void SetContinueWithSectors(bool on) { SetFlag(kContinueWithSectors, on); }
    bool StartNextQueued() const { return Flag(kStartNextQueued); }
    std::uint32_t ReadRetryAttempts() const { return Word(kReadRetryAttempts); }
    std::uint32_t RetryPauseMs() const { return Word(kRetryPauseMs); }
    std::uint32_t InterfaceMode() const { return Word(kInterfaceMode); }
    void SetInterfaceMode(std::uint32_t command) { SetWord(kInterfaceMode, command); }
    WindowRect WindowGeometry() const;
    void SetWindowGeometry(const WindowRect& rect);
    std::string DestinationFolder() const { return Text(kDestinationFolder, kFolderCapacity); }
    void SetDestinationFolder(std::string_view f) {
        SetText(kDestinationFolder, kFolderCapacity, f);
    }
    std::string TempFolder() const { return Text(kTempFolder, kFolderCapacity); }
    void SetTempFolder(std::string_view f) { SetText(kTempFolder, kFolderCapacity, f); }
    std::string LogFileName() const { return Text(kLogFileName, kLogFileNameCapacity); }
    void SetLogFileName(std::string_view n) { SetText(kLogFileName, kLogFileNameCapacity, n); }

  private:
    static constexpr std::size_t kWords = kSize / 4;
    static_assert(kSize % 4 == 0);

    std::uint16_t Unit(std::size_t offset) const;
    void SetUnit(std::size_t offset, std::uint16_t unit);

    platform::RegistryStore& store_;
    std::string keyPath_;
    mutable std::array<std::uint32_t, kWords> words_{};
};

}  // namespace duzez::core
