#pragma once

// `recover --report FILE`: a record of the run in a file of the user's choosing, for
// scripts and for later: what was read, when, with which options, and for every selected
// file where it came from, what became of it and the SHA-256 of what was written. The
// file is new (never one that exists) and never lies on the drive being read.

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/recover_summary.h"
#include "cli/session.h"
#include "recovery/recovery.h"

namespace duzez::cli {

// Why FILE cannot take the report, from the path alone (empty when it can): no file name,
// a file or link already there, or TARGET itself. Checked before anything is read.
std::string ReportPathProblem(const std::filesystem::path& file, const std::string& target);

// Why FILE cannot take the report of `source` (empty when it can): it lies on the drive
// being read, or its folder cannot be made or written into.
std::string ReportPlaceProblem(const std::filesystem::path& file,
                               const devices::CLocalComputer& computer, devices::CVolume& source);

class RecoverReport {
  public:
    // `run` holds what describes the run as a whole (target, volume, options...).
    RecoverReport(std::filesystem::path file, nlohmann::ordered_json run);

    // Every entry of the engine's list after its run: written or not, the entries the run
    // never reached too. The SHA-256 is read from each file written.
    void AddRun(const VolumePart& part, const recovery::CRecovery& engine);

    // Writes the report as a whole under its name; empty, or why it could not be.
    std::string Write(const nlohmann::ordered_json& summary);

  private:
    struct Entry {
        std::string volumePath;
        recovery::FileResult result;
        std::optional<std::string> sha256;
    };
    nlohmann::ordered_json EntryJson(const Entry& entry) const;

    std::filesystem::path file_;
    nlohmann::ordered_json run_;
    std::vector<Entry> entries_;
};

}  // namespace duzez::cli
