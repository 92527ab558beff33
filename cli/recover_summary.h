#pragma once

// What a recovery run did, counted the way a person reads it: what was found, what was
// chosen, and for every chosen file whether it is now in the destination whole.

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

#include "recovery/recovery.h"

namespace duzez::cli {

struct RecoverySummary {
    std::size_t found = 0;               // files the analysis listed
    std::size_t notSelected = 0;         // left out by --deleted-only or --match
    std::size_t systemLeftOut = 0;       // file-system metadata, without --include-system
    std::size_t overwrittenLeftOut = 0;  // deleted, their clusters in use again
    std::size_t selected = 0;
    std::size_t recoveredDeleted = 0;
    std::size_t recoveredLive = 0;
    std::size_t withUnreadableSectors = 0;  // among the recovered
    std::uint64_t unreadableSectors = 0;
    std::size_t incomplete = 0;
    std::size_t alreadyRecovered = 0;
    std::size_t failed = 0;
    std::size_t notWritten = 0;        // the run stopped before them
    std::size_t notIntactLeftOut = 0;  // photos --intact-only left out
    // Recovered photos by verdict.
    std::size_t photosIntact = 0;
    std::size_t photosTruncated = 0;
    std::size_t photosDamaged = 0;
    std::uint64_t bytes = 0;
    double seconds = 0;
    bool destinationFull = false;
    bool interrupted = false;

    // Every selected file is in the destination whole (or was already).
    bool AllWhole() const {
        return withUnreadableSectors == 0 && incomplete == 0 && failed == 0 && notWritten == 0;
    }
};

// Adds the engine's results of one run; `found`, `notSelected` and `systemLeftOut` come from the
// selection.
void TallyResults(const recovery::CRecovery& engine, RecoverySummary& summary);

// The closing lines on stdout.
void PrintSummary(const RecoverySummary& summary, const std::string& destination);

// The same, with one entry per selected file, for scripts.
nlohmann::ordered_json SummaryJson(const RecoverySummary& summary,
                                   const std::vector<recovery::FileResult>& results,
                                   const std::string& destination);

// A word for each outcome, as the JSON and the log name it.
const char* OutcomeName(recovery::FileOutcome outcome);

// "live", "deleted", "overwritten" or "signature only", as the listing names them.
const char* StateName(const filesystems::FoundObject& object);

// One selected file's entry: its name, start, outcome, where it was written (or null) and
// its photo verdict. Shared by the summary and the report.
nlohmann::ordered_json FileResultJson(const recovery::FileResult& result);

}  // namespace duzez::cli
