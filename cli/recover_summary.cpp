#include "cli/recover_summary.h"

#include <cstdio>

#include "cli/session.h"
#include "filesystems/found_object.h"
#include "recovery/photo_verdicts.h"

namespace duzez::cli {
namespace {

using recovery::FileOutcome;

std::string Plural(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

const char* OutcomeName(FileOutcome outcome) {
    switch (outcome) {
        case FileOutcome::Recovered:
            return "recovered";
        case FileOutcome::RecoveredWithUnreadableSectors:
            return "recovered with unreadable sectors";
        case FileOutcome::Incomplete:
            return "incomplete";
        case FileOutcome::AlreadyRecovered:
            return "already recovered";
        case FileOutcome::Failed:
            return "failed";
        case FileOutcome::NotWritten:
            return "not written";
    }
    return "failed";
}

void TallyResults(const recovery::CRecovery& engine, RecoverySummary& summary) {
    const std::size_t selected = engine.RecoveryList.size();
    summary.selected += selected;
    summary.bytes += engine.RecoveredBytes.load();
    summary.destinationFull = summary.destinationFull || engine.DestinationFull.load();
    for (const recovery::FileResult& result : engine.Results) {
        switch (result.outcome) {
            case FileOutcome::RecoveredWithUnreadableSectors:
                ++summary.withUnreadableSectors;
                summary.unreadableSectors += result.unreadableSectors;
                [[fallthrough]];
            case FileOutcome::Recovered:
                if (result.object->Is(filesystems::ObjectFlags::Deleted))
                    ++summary.recoveredDeleted;
                else
                    ++summary.recoveredLive;
                switch (recovery::VerdictOf(*result.object)) {
                    case signatures::PhotoVerdict::Intact:
                        ++summary.photosIntact;
                        break;
                    case signatures::PhotoVerdict::Truncated:
                        ++summary.photosTruncated;
                        break;
                    case signatures::PhotoVerdict::Damaged:
                        ++summary.photosDamaged;
                        break;
                    case signatures::PhotoVerdict::Unchecked:
                        break;
                }
                break;
            case FileOutcome::Incomplete:
                ++summary.incomplete;
                break;
            case FileOutcome::AlreadyRecovered:
                ++summary.alreadyRecovered;
                break;
            case FileOutcome::Failed:
                ++summary.failed;
                break;
            case FileOutcome::NotWritten:
                ++summary.notWritten;
                break;
        }
    }
    // Files the run never reached.
    summary.notWritten += selected - std::min(selected, engine.Results.size());
}

void PrintSummary(const RecoverySummary& s, const std::string& destination) {
    std::string found = "Found " + Plural(s.found, "file", "files") + "; " +
                        std::to_string(s.selected) + " selected";
    if (s.notSelected != 0)
        found += ", " + std::to_string(s.notSelected) + " not selected";
    if (s.systemLeftOut != 0) {
        found += ", " + Plural(s.systemLeftOut, "file-system file", "file-system files") +
                 " left out (--include-system writes them)";
    }
    if (s.notIntactLeftOut != 0) {
        found += ", " + Plural(s.notIntactLeftOut, "photo", "photos") +
                 " not intact left out (--intact-only)";
    }
    if (s.overwrittenLeftOut != 0) {
        found += ", " + std::to_string(s.overwrittenLeftOut) +
                 " overwritten left out (another file now holds their clusters; "
                 "--include-overwritten writes them)";
    }
    std::printf("%s.\n", found.c_str());

    const std::size_t recovered = s.recoveredDeleted + s.recoveredLive;
    std::string outcome = "Recovered " + std::to_string(recovered) + " (" +
                          std::to_string(s.recoveredDeleted) + " deleted, " +
                          std::to_string(s.recoveredLive) + " live)";
    if (s.withUnreadableSectors != 0) {
        outcome += "; " + std::to_string(s.withUnreadableSectors) + " of them with " +
                   Plural(s.unreadableSectors, "unreadable sector", "unreadable sectors") +
                   " written as zeros";
    }
    outcome += "; " + std::to_string(s.incomplete) + " incomplete; " +
               std::to_string(s.alreadyRecovered) + " already recovered; " +
               std::to_string(s.failed) + " failed";
    if (s.notWritten != 0)
        outcome += "; " + std::to_string(s.notWritten) + " not written";
    std::printf("%s.\n", outcome.c_str());
    if (s.photosIntact + s.photosTruncated + s.photosDamaged != 0) {
        std::printf("Photos checked: %zu intact, %zu truncated, %zu damaged.\n", s.photosIntact,
                    s.photosTruncated, s.photosDamaged);
    }
    std::printf("%s in %.1f s into %s\n", HumanSize(s.bytes).c_str(), s.seconds,
                destination.c_str());
    if (s.destinationFull) {
        std::printf("The destination is full: %zu files recovered, the rest not written.\n",
                    recovered + s.incomplete);
    } else if (s.interrupted && s.notWritten != 0) {
        std::printf("Stopped by Ctrl-C: %s not written.\n",
                    Plural(s.notWritten, "file", "files").c_str());
    }
    if (s.incomplete != 0) {
        std::printf(
            "Incomplete files are written as far as they could be read or with an end "
            "taken on trust; check them before relying on them.\n");
    }
    if (!s.AllWhole())
        std::printf("The log says which files and why (run with -v to see it).\n");
}

const char* StateName(const filesystems::FoundObject& object) {
    if (object.Is(filesystems::ObjectFlags::FoundBySignature))
        return "signature only";
    if (object.Is(filesystems::ObjectFlags::Overwritten))
        return "overwritten";
    return object.Is(filesystems::ObjectFlags::Deleted) ? "deleted" : "live";
}

nlohmann::ordered_json FileResultJson(const recovery::FileResult& result) {
    return {{"name", std::string(result.object->GetName())},
            {"start", result.object->Start},
            {"deleted", result.object->Is(filesystems::ObjectFlags::Deleted)},
            {"outcome", OutcomeName(result.outcome)},
            {"path", result.path.empty() ? nlohmann::ordered_json(nullptr)
                                         : nlohmann::ordered_json(result.path.string())},
            {"unreadableSectors", result.unreadableSectors},
            {"verdict", VerdictName(recovery::VerdictOf(*result.object))}};
}

nlohmann::ordered_json SummaryJson(const RecoverySummary& s,
                                   const std::vector<recovery::FileResult>& results,
                                   const std::string& destination) {
    nlohmann::ordered_json files = nlohmann::ordered_json::array();
    for (const recovery::FileResult& result : results)
        files.push_back(FileResultJson(result));
    return {{"destination", destination},
            {"found", s.found},
            {"selected", s.selected},
            {"notSelected", s.notSelected},
            {"systemFilesLeftOut", s.systemLeftOut},
            {"overwrittenLeftOut", s.overwrittenLeftOut},
            {"recovered", s.recoveredDeleted + s.recoveredLive},
            {"recoveredDeleted", s.recoveredDeleted},
            {"recoveredLive", s.recoveredLive},
            {"withUnreadableSectors", s.withUnreadableSectors},
            {"unreadableSectors", s.unreadableSectors},
            {"incomplete", s.incomplete},
            {"alreadyRecovered", s.alreadyRecovered},
            {"failed", s.failed},
            {"notWritten", s.notWritten},
            {"notIntactLeftOut", s.notIntactLeftOut},
            {"photosIntact", s.photosIntact},
            {"photosTruncated", s.photosTruncated},
            {"photosDamaged", s.photosDamaged},
            {"destinationFull", s.destinationFull},
            {"interrupted", s.interrupted},
            {"bytes", s.bytes},
            {"seconds", s.seconds},
            {"files", files}};
}

}  // namespace duzez::cli
