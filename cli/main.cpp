// duzez-cli: the command-line front end over the recovery engine.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <new>

#include "cli/commands.h"
#include "cli/terminal_text.h"
#include "cli/version.h"

namespace {

int Run(int argc, char** argv) {
    CLI::App app{
        "Duzez Quarnel: find and recover deleted or lost files, above all photographs,\n"
        "on disks, memory cards and drive images. Nothing is ever written to the drive\n"
        "being analysed.\n"
        "\n"
        "Get deleted photos back from a card or disk into a folder on another drive:\n"
        "  duzez-cli recover /dev/sdX ~/Recovered --deleted-only\n"
        "See first what can be found:\n"
        "  duzez-cli list /dev/sdX --deleted-only\n"
        "\n"
        "A volume is one file system: a partition of a disk, or a whole card or image.\n"
        "--deep also searches every sector for photos and documents by their content:\n"
        "  slower, but it finds files whose folder entries are gone (a formatted card).\n"
        "--size-method says where such a found file ends when its format records no length.",
        "duzez-cli"};
    app.set_version_flag("--version", std::string("duzez-cli ") + duzez::cli::kVersion);
    // -v is taken after the verb as well as before it.
    app.fallthrough();
    duzez::cli::CommandBody body;
    duzez::cli::GlobalOptions options;
    app.add_flag("-v,--verbose", options.verbose, "Copy every log line to stderr");
    // In the help in this order: what most people came for first.
    duzez::cli::AddRecoverCommand(app, body, options);
    duzez::cli::AddListCommand(app, body, options);
    duzez::cli::AddDriveCommands(app, body, options);
    duzez::cli::AddPartitionCommands(app, body, options);
    duzez::cli::AddSignatureCommands(app, body, options);
    duzez::cli::AddSettingsCommand(app, body, options);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? duzez::cli::kDone : duzez::cli::kBadInput;
    }
    if (!body) {
        std::fputs(app.help().c_str(), stdout);
        duzez::cli::PrintDriveList(options);
        return duzez::cli::kDone;
    }
    return body();
}

}  // namespace

int main(int argc, char** argv) {
    // Whatever a command meets (no memory, a working folder that is gone, a name the
    // libraries refuse) ends it with one line, not with an abort and a core dump.
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc& e) {
        std::fprintf(stderr, "error: out of memory (%s)\n", e.what());
    } catch (const std::exception& e) {
        // The text may carry a path: one line, and nothing a terminal would obey.
        std::fprintf(stderr, "error: %s\n", duzez::cli::TerminalText(e.what()).c_str());
    } catch (...) {
        std::fprintf(stderr, "error: an unexpected failure ended the command\n");
    }
    return duzez::cli::kBadInput;
}
