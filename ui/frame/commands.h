#pragma once

// Command identifiers of the explorer window's menus, toolbar and accelerators; they keep
// the values the settings store (the interface mode) and the language files use.

namespace duzez::ui::Command {

constexpr int LogExport = 134;
constexpr int StartAnalyzing = 32774;
constexpr int StopAnalyzing = 32775;
constexpr int RescanDrives = 32781;
constexpr int CreateDriveImage = 32782;
constexpr int LoadDriveImage = 32783;
constexpr int CreateVirtualDrive = 32784;
constexpr int Recover = 32787;
constexpr int VisitWebsite = 32789;
constexpr int Search = 32791;
constexpr int Legend = 32794;
constexpr int SendEmail = 32795;
constexpr int Information = 32797;
constexpr int Settings = 32798;
constexpr int Confirmations = 32799;
constexpr int DriveAccess = 32800;
constexpr int InterfaceLanguage = 32801;
constexpr int CommonSettings = 32802;
constexpr int Filters = 32803;
constexpr int TryToOpen = 32809;
constexpr int TemporaryFolder = 32810;
constexpr int Logging = 32811;
constexpr int RecoveryGuide = 32817;
constexpr int SearchHelp = 32818;
constexpr int FileTypes = 32829;
constexpr int SetNewSize = 32831;
constexpr int HomePage = 32838;
constexpr int ModeExplorerLegend = 32839;
constexpr int ModeWizard9 = 32840;
constexpr int ModeExplorer = 32841;
constexpr int ModeExplorerViewer = 32842;
constexpr int ResetSize = 32845;
constexpr int SearchLostDrives = 32862;
constexpr int Select = 32871;
constexpr int Properties = 32872;
constexpr int ModeWizard4 = 32874;
constexpr int SelectAll = 57642;
constexpr int About = 57664;
constexpr int Exit = 57665;
constexpr int HelpContents = 57670;
constexpr int ClosePane = 57682;
constexpr int ToolBar = 59392;
constexpr int StatusBar = 59393;
// Beyond the original commands: the file list as a grid of photo thumbnails.
constexpr int Thumbnails = 33100;

}  // namespace duzez::ui::Command
