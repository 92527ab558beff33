#pragma once

// Where the program finds its own data and where it may put per-user and temporary files.

#include <filesystem>
#include <optional>
#include <string_view>

namespace duzez::platform {

std::filesystem::path ExecutablePath();    // /proc/self/exe
std::filesystem::path ExecutableFolder();  // its folder

// The installation data folder holding `name` ("Languages", "media", "signatures.reg"):
// beside the executable (build tree) first, then ../share/duzez/ (installed tree).
std::optional<std::filesystem::path> FindProgramData(std::string_view name);
// The same search from a given executable folder, for tests.
std::optional<std::filesystem::path> FindProgramData(const std::filesystem::path& executableFolder,
                                                     std::string_view name);

std::filesystem::path HomeFolder();        // $HOME, else the password database
std::filesystem::path UserConfigFolder();  // $XDG_CONFIG_HOME or ~/.config
std::filesystem::path UserStateFolder();   // $XDG_STATE_HOME or ~/.local/state
std::filesystem::path SystemTempFolder();  // $TMPDIR when it is a folder, else /tmp

}  // namespace duzez::platform
