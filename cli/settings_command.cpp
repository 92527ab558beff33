#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "core/app.h"
#include "core/settings_fields.h"

namespace duzez::cli {
namespace {

using S = core::CSettings;

// The settings this program reads when it runs: the language of its messages, the log
// file, the names of found files in the log, and the read retries. The rest belong to the
// desktop program's windows, questions and wizards.
constexpr std::size_t kUsedByCli[] = {
    S::kInterfaceLanguage, S::kSaveLogInFile,     S::kClearLogOnStartup, S::kMaxLogFileSizeKb,
    S::kLogFoundFileNames, S::kReadRetryAttempts, S::kLogFileName};

// One setting as shown: its name, its value as JSON, and what the command line does with it.
struct Row {
    std::string name;
    const char* type;  // "flag", "unsigned", "signed", "text" or "window"
    nlohmann::ordered_json value;
    std::size_t offset;
    const char* cliOption = nullptr;  // the option of this program that takes its place
};

bool UsedByCli(std::size_t offset) {
    return std::find(std::begin(kUsedByCli), std::end(kUsedByCli), offset) != std::end(kUsedByCli);
}

// "Maximum log file size (KB)" as "maximumLogFileSizeKb": a key for scripts.
std::string Key(const std::string& name) {
    std::string key;
    bool upper = false;
    for (const char c : name) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0) {
            upper = !key.empty();
            continue;
        }
        const auto lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        key += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : lower;
        upper = false;
    }
    return key;
}

std::vector<Row> Rows(const S& s) {
    std::vector<Row> rows;
    for (const core::SettingsField& field : core::SettingsFields()) {
        const std::uint32_t value = s.Word(field.offset);
        std::string name(field.name);
        switch (field.kind) {
            case core::SettingsField::Kind::Flag:
                rows.push_back({name, "flag", value != 0, field.offset});
                break;
            case core::SettingsField::Kind::Unsigned:
                rows.push_back({name, "unsigned", value, field.offset});
                break;
            case core::SettingsField::Kind::Signed:
                rows.push_back({name, "signed", static_cast<std::int32_t>(value), field.offset});
                break;
            case core::SettingsField::Kind::Reserved:
                break;
        }
        // Each run sets it from -v, before the log is set up.
        if (field.offset == S::kLogToDebugOutput)
            rows.back().cliOption = "-v";
    }
    const core::WindowRect window = s.WindowGeometry();
    rows.push_back({"Window",
                    "window",
                    {{"left", window.left},
                     {"top", window.top},
                     {"width", window.width},
                     {"height", window.height}},
                    S::kWindowLeft});
    rows.push_back({"Destination folder", "text", s.DestinationFolder(), S::kDestinationFolder});
    rows.push_back({"Temporary folder", "text", s.TempFolder(), S::kTempFolder});
    rows.push_back({"Log file name", "text", s.LogFileName(), S::kLogFileName});
    return rows;
}

std::string ValueText(const Row& row) {
    const nlohmann::ordered_json& value = row.value;
    if (value.is_boolean())
        return value.get<bool>() ? "on" : "off";
    if (value.is_string())
        return value.get<std::string>();
    if (value.is_object()) {
        return "left " + value["left"].dump() + ", top " + value["top"].dump() + ", width " +
               value["width"].dump() + ", height " + value["height"].dump();
    }
    return value.dump();
}

void PrintSettings(const core::CApp& app, bool json) {
    const S& s = app.Settings();
    const bool valid = s.Checksum() == s.Word(S::kChecksum);
    const std::vector<Row> rows = Rows(s);
    if (json) {
        nlohmann::ordered_json out;
        out["store"] = app.Store().FilePath().string();
        out["checksum"] = s.Word(S::kChecksum);
        out["checksumValid"] = valid;
        out["settings"] = nlohmann::ordered_json::array();
        for (const Row& row : rows) {
            out["settings"].push_back(
                {{"key", Key(row.name)},
                 {"name", row.name},
                 {"type", row.type},
                 {"value", row.value},
                 {"usedByCli", UsedByCli(row.offset)},
                 {"cliOption", row.cliOption != nullptr ? nlohmann::ordered_json(row.cliOption)
                                                        : nlohmann::ordered_json()}});
        }
        // Folders and file names are the user's bytes: what is not UTF-8 becomes U+FFFD.
        std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        return;
    }
    std::printf("Store: %s\n", app.Store().FilePath().c_str());
    std::printf("Checksum: 0x%08x (%s)\n", s.Word(S::kChecksum),
                valid ? "valid" : "changed since last save");
    for (const Row& row : rows) {
        const std::string note = row.cliOption != nullptr ? std::string(" (duzez-cli uses ") +
                                                                row.cliOption + " instead)"
                                 : UsedByCli(row.offset) ? " (used by duzez-cli)"
                                                         : "";
        std::printf("%s: %s%s\n", row.name.c_str(), ValueText(row).c_str(), note.c_str());
    }
}

}  // namespace

void AddSettingsCommand(CLI::App& app, CommandBody& body, const GlobalOptions&) {
    CLI::App* settings = app.add_subcommand("settings", "Show or reset the stored settings");
    settings->require_subcommand(1);
    auto json = std::make_shared<bool>(false);
    CLI::App* show = settings->add_subcommand(
        "show", "Print every setting, one per line, marking those duzez-cli uses");
    show->add_flag("--json", *json, "One JSON document on stdout");
    show->callback([&body, json] {
        body = [json] {
            core::CApp application;
            application.LoadSettings();
            for (const std::string& problem : application.StartupProblems()) {
                std::fprintf(stderr, "warning: %s\n", problem.c_str());
            }
            PrintSettings(application, *json);
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
