#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "core/app.h"
#include "core/settings_fields.h"

namespace duzez::cli {
namespace {

void PrintSettings(const core::CApp& app) {
    const core::CSettings& s = app.Settings();
    const bool valid = s.Checksum() == s.Word(core::CSettings::kChecksum);
    std::printf("Store: %s\n", app.Store().FilePath().c_str());
    std::printf("Checksum: 0x%08x (%s)\n", s.Word(core::CSettings::kChecksum),
                valid ? "valid" : "changed since last save");
    for (const core::SettingsField& field : core::SettingsFields()) {
        const std::uint32_t value = s.Word(field.offset);
        switch (field.kind) {
            case core::SettingsField::Kind::Flag:
                std::printf("%.*s: %s\n", static_cast<int>(field.name.size()), field.name.data(),
                            value != 0 ? "on" : "off");
                break;
            case core::SettingsField::Kind::Unsigned:
                std::printf("%.*s: %u\n", static_cast<int>(field.name.size()), field.name.data(),
                            value);
                break;
            case core::SettingsField::Kind::Signed:
                std::printf("%.*s: %d\n", static_cast<int>(field.name.size()), field.name.data(),
                            static_cast<std::int32_t>(value));
                break;
            case core::SettingsField::Kind::Reserved:
                break;
        }
    }
    const core::WindowRect window = s.WindowGeometry();
    std::printf("Window: left %d, top %d, width %d, height %d\n", window.left, window.top,
                window.width, window.height);
    std::printf("Destination folder: %s\n", s.DestinationFolder().c_str());
    std::printf("Temporary folder: %s\n", s.TempFolder().c_str());
    std::printf("Log file name: %s\n", s.LogFileName().c_str());
}

}  // namespace

void AddSettingsCommand(CLI::App& app, CommandBody& body, const GlobalOptions&) {
    CLI::App* settings = app.add_subcommand("settings", "Show or reset the stored settings");
    settings->require_subcommand(1);
    settings->add_subcommand("show", "Print every setting, one per line")->callback([&body] {
        body = [] {
            core::CApp application;
            application.LoadSettings();
            for (const std::string& problem : application.StartupProblems()) {
                std::fprintf(stderr, "warning: %s\n", problem.c_str());
            }
            PrintSettings(application);
            return kDone;
        };
    });
    settings->add_subcommand("reset", "Store the default settings")->callback([&body] {
        body = [] {
            core::CApp application;
            if (!application.ResetSettings()) {
                std::fprintf(stderr, "error: the settings could not be saved: %s\n",
                             application.Store().LastError().c_str());
                return kDoneWithFailures;
            }
            std::printf("Settings reset to their defaults.\n");
            return kDone;
        };
    });
}

}  // namespace duzez::cli
