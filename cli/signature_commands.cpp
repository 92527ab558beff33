// duzez-cli signatures list | import FILE.reg: the file formats the sector scan looks for.

#include <nlohmann/json.hpp>

#include <cstdio>
#include <iostream>

#include "cli/commands.h"
#include "cli/session.h"

namespace duzez::cli {
namespace {

// "mp4;m4v, m4a" as ["mp4", "m4v", "m4a"].
nlohmann::ordered_json ExtensionArray(const std::string& extensions) {
    auto list = nlohmann::ordered_json::array();
    std::string current;
    for (const char c : extensions + ";") {
        if (c != ';' && c != ',' && c != ' ') {
            current += c;
        } else if (!current.empty()) {
            list.push_back(current);
            current.clear();
        }
    }
    return list;
}

int ListSignatures(const GlobalOptions& options, bool json) {
    Session session(options, false);
    auto& database = session.Computer().Signatures();
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    if (!json) {
        std::printf("%-6s %-30s %-12s %-28s %-7s %s\n", "Number", "Title", "Group", "Extensions",
                    "Enabled", "Patterns");
    }
    for (const auto& signature : database.Signatures()) {
        const bool enabled = signature->SearchEnable.load() != 0;
        if (json) {
            out.push_back({{"number", signature->FormatId},
                           {"title", signature->Title},
                           {"group", signature->Group},
                           {"extensions", ExtensionArray(signature->FileExtensions)},
                           {"enabled", enabled},
                           {"patterns", signature->Patterns.size()}});
        } else {
            std::printf("%-6d %-30.30s %-12.12s %-28.28s %-7s %zu\n", signature->FormatId,
                        signature->Title.c_str(), signature->Group.c_str(),
                        signature->FileExtensions.c_str(), enabled ? "yes" : "no",
                        signature->Patterns.size());
        }
    }
    if (json)
        std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    return kDone;
}

int ImportSignatures(const GlobalOptions& options, const std::string& file) {
    Session session(options, false);
    std::string error;
    if (!session.App().Store().ImportFile(file, &error)) {
        std::fprintf(stderr, "error: nothing imported: %s\n", error.c_str());
        return kBadInput;
    }
    auto& database = session.Computer().Signatures();
    database.LoadDatabase();
    std::printf("Imported %s; the database now holds %zu formats.\n", file.c_str(),
                database.Signatures().size());
    return kDone;
}

}  // namespace

void AddSignatureCommands(CLI::App& app, CommandBody& body, const GlobalOptions& options) {
    CLI::App* signatures = app.add_subcommand("signatures", "The file formats the scan looks for");
    signatures->require_subcommand(1);
    auto json = std::make_shared<bool>(false);
    CLI::App* list = signatures->add_subcommand("list", "List every format with its patterns");
    list->add_flag("--json", *json, "One JSON document on stdout");
    list->callback([&body, &options, json] {
        body = [&options, json] { return ListSignatures(options, *json); };
    });
    auto file = std::make_shared<std::string>();
    CLI::App* import =
        signatures->add_subcommand("import", "Add or replace formats from a .reg file");
    import->add_option("FILE", *file, "A file in the regedit export format")->required();
    import->callback([&body, &options, file] {
        body = [&options, file] { return ImportSignatures(options, *file);
};
}  // namespace duzez::cli
);
}

}  // namespace duzez::cli
