// duzez-cli recover: the files of a volume written out under a destination folder.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <map>
#include <optional>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/name_patterns.h"
#include "cli/recover_progress.h"
#include "cli/recover_report.h"
#include "cli/recover_summary.h"
#include "cli/session.h"
#include "cli/terminal_text.h"
#include "cli/time_text.h"
#include "cli/version.h"
#include "core/work_share.h"
#include "filesystems/found_object_tree.h"
#include "platform/file_io.h"
#include "platform/file_owner.h"
#include "recovery/photo_verdicts.h"
#include "recovery/recovery.h"

namespace duzez::cli {
namespace {

using filesystems::FoundObject;
namespace ObjectFlags = filesystems::ObjectFlags;

// The command line answers the recovery's questions from its options.
class OptionAnswers : public recovery::RecoveryQuestions {
  public:
    explicit OptionAnswers(recovery::SizeAnswer size) : size_(size) {}
    recovery::SizeAnswer AskProbableSize(const FoundObject&) override { return size_; }
    std::optional<std::filesystem::path> AskOtherDestination(
        const std::filesystem::path& refused) override {
        std::fprintf(stderr,
                     "error: %s lies on the drive being recovered from; choose a destination on "
                     "another drive\n",
                     TerminalText(refused.string()).c_str());
        return std::nullopt;
    }

  private:
    recovery::SizeAnswer size_;
};

std::optional<recovery::SizeAnswer> ParseSizeMethod(const std::string& text) {
    recovery::SizeAnswer answer;
    answer.result = recovery::SizeAnswer::Result::Ok;
    answer.scope = recovery::SizeScope::ThisFile;
    // "default" was its first name, though next-any is the default; scripts may still use it.
    if (text == "typical" || text == "default") {
        answer.method = recovery::SizeMethod::Default;
    } else if (text == "next-any") {
        answer.method = recovery::SizeMethod::NextAny;
    } else if (text == "next-same") {
        answer.method = recovery::SizeMethod::NextSame;
    } else if (text.rfind("custom:", 0) == 0) {
        answer.method = recovery::SizeMethod::Custom;
        // "custom:-5" or "custom:0" is no size.
        const auto bytes = ParseSize(text.substr(7));
        if (!bytes || *bytes == 0)
            return std::nullopt;
        answer.customBytes = *bytes;
    } else {
        return std::nullopt;
    }
    return answer;
}

struct RecoverArguments {
    std::string target;
    std::string destination;
    int volume = 0;
    int found = 0;
    bool deep = false;
    bool deletedOnly = false;
    bool includeSystem = false;
    bool includeOverwritten = false;
    bool json = false;
    std::vector<std::string> match;
    std::string sizeMethod = "next-any";
    std::string carvedNames = "capture";
    bool intactOnly = false;
    std::string report;  // the file --report names
    bool reportGiven = false;
};

// The options as the report records them.
nlohmann::ordered_json OptionsJson(const RecoverArguments& args) {
    const auto number = [](int value) {
        return value != 0 ? nlohmann::ordered_json(value) : nlohmann::ordered_json(nullptr);
    };
    return {{"volume", number(args.volume)},
            {"found", number(args.found)},
            {"deep", args.deep},
            {"deletedOnly", args.deletedOnly},
            {"includeSystem", args.includeSystem},
            {"includeOverwritten", args.includeOverwritten},
            {"intactOnly", args.intactOnly},
            {"match", args.match},
            {"sizeMethod", args.sizeMethod},
            {"carvedNames", args.carvedNames}};
}

// What the report says of the run as a whole, before any file.
nlohmann::ordered_json RunJson(const RecoverArguments& args, devices::CVolume& volume,
                               const std::string& started) {
    std::error_code ec;
    const auto destination = std::filesystem::absolute(args.destination, ec);
    return {{"program", "duzez-cli"},
            {"version", kVersion},
            {"target", args.target},
            {"volume",
             {{"name", volume.GetDisplayName()},
              {"device", volume.GetDevicePath()},
              {"fileSystem", volume.FileSystem->FileSystemName},
              {"size", volume.TotalSize}}},
            {"destination", ec ? args.destination : destination.string()},
            {"started", started},
            {"options", OptionsJson(args)}};
}

// --intact-only: the photos among the selection are judged first, and only the intact
// ones stay; what is no photo stays as selected.
void KeepIntactPhotos(Session& session, devices::CVolume& volume, recovery::CRecovery& engine,
                      RecoverySummary& summary) {
    auto& list = engine.RecoveryList;
    recovery::JudgePhotos(volume, list, &session.StopFlag());
    const auto end = std::remove_if(list.begin(), list.end(), [](const FoundObject* object) {
        return recovery::IsJudgedFormat(object->SignatureId) &&
               recovery::VerdictOf(*object) != signatures::PhotoVerdict::Intact;
    });
    summary.notIntactLeftOut += static_cast<std::size_t>(list.end() - end);
    list.erase(end, list.end());
}

// The photos just written, judged from their files: what the person got is what counts.
void JudgeWrittenPhotos(recovery::CRecovery& engine, const std::atomic<bool>& stop) {
    std::map<const FoundObject*, std::filesystem::path> written;
    for (const recovery::FileResult& result : engine.Results) {
        if (!result.path.empty() && (result.outcome == recovery::FileOutcome::Recovered))
            written[result.object] = result.path;
    }
    std::vector<std::pair<FoundObject*, std::filesystem::path>> photos;
    for (FoundObject* object : engine.RecoveryList) {
        const auto found = written.find(object);
        if (found != written.end() && recovery::IsJudgedFormat(object->SignatureId) &&
            recovery::VerdictOf(*object) == signatures::PhotoVerdict::Unchecked) {
            photos.emplace_back(object, found->second);
        }
    }
    core::ShareWork(
        photos.size(),
        [&photos](std::size_t i) {
            auto& [object, path] = photos[i];
            const auto bytes = platform::ReadWholeFile(path, recovery::kMaxJudgedBytes);
            if (!bytes || bytes->empty())
                return;
            object->Verdict = static_cast<std::uint8_t>(
                signatures::JudgePhoto(object->SignatureId, *bytes).verdict);
        },
        [&stop] { return stop.load(); });
}

// Fills the engine's list with what the options select; counts the rest.
// Files carved where a found volume lists a file (`listedStarts`) are written under their
// names with that volume, not twice.
void Select(const RecoverArguments& args, const VolumePart& part, recovery::CRecovery& engine,
            RecoverySummary& summary, const std::set<std::uint64_t>& listedStarts) {
    devices::CVolume& volume = *part.volume;
    auto& tree = *volume.FoundObjectTree;
    const NamePatterns patterns(args.match);
    for (FoundObject* object : tree.ListedObjects()) {
        if (object->Is(ObjectFlags::Folder) || object == &volume.TreeNode ||
            object == &volume.BootObject ||
            (object->Is(ObjectFlags::FoundBySignature) && listedStarts.count(object->Start) != 0)) {
            continue;
        }
        ++summary.found;
        if (!args.includeSystem && volume.FileSystem->IsSystemObject(*object)) {
            ++summary.systemLeftOut;
            continue;
        }
        if ((args.deletedOnly && !object->Is(ObjectFlags::Deleted)) ||
            // The path is built only when there are patterns: it walks the folder chain.
            (!patterns.Empty() &&
             !patterns.Matches(object->GetName(), ListedPath(part, *object)))) {
            ++summary.notSelected;
            continue;
        }
        // Another file's bytes under this one's name: only when asked for.
        if (!args.includeOverwritten && object->Is(ObjectFlags::Overwritten)) {
            ++summary.overwrittenLeftOut;
            continue;
        }
        engine.RecoveryList.push_back(object);
    }
}

// What to try when nothing was there to recover; on `out`.
void SuggestNextStep(const RecoverArguments& args, const RecoverySummary& summary, FILE* out) {
    if (summary.found == 0) {
        std::fprintf(out, "Found no files in the file system.\n");
    } else {
        std::fprintf(out, "Found %zu files; none selected (%zu not selected).\n", summary.found,
                     summary.notSelected + summary.notIntactLeftOut);
    }
    if (summary.notIntactLeftOut != 0) {
        std::fprintf(out,
                     "%zu photos were left out as truncated, damaged or unreadable "
                     "(--intact-only); without it they are written as they are.\n",
                     summary.notIntactLeftOut);
    }
    if (!args.deep && summary.notIntactLeftOut == 0) {
        std::fprintf(out,
                     "No %sfiles in the file system; --deep searches the free space for photos "
                     "by their content.\n",
                     args.deletedOnly ? "deleted " : "");
    }
}

int Recover(const GlobalOptions& options, const RecoverArguments& args) {
    const auto start = std::chrono::steady_clock::now();
    const std::string started = IsoTimeNow();
    // Before any thread starts, so that every thread leaves Ctrl-C to it.
    InterruptWatch interrupts;
    const auto sizes = ParseSizeMethod(args.sizeMethod);
    if (!sizes) {
        std::fprintf(stderr,
                     "error: --size-method takes next-any, next-same, typical or custom:SIZE "
                     "with SIZE above 0 (4096, 10MB, 2MiB)\n");
        return kBadInput;
    }
    // An empty name would be taken as the current folder, which the person did not choose.
    if (args.destination.find_first_not_of(" \t") == std::string::npos) {
        std::fprintf(stderr, "error: DEST is empty; name the folder to write into\n");
        return kBadInput;
    }
    if (args.reportGiven) {
        if (const std::string problem = ReportPathProblem(args.report, args.target);
            !problem.empty()) {
            std::fprintf(stderr, "error: %s\n", TerminalText(problem).c_str());
            return kBadInput;
        }
    }
    Session session(options);
    auto& computer = session.Computer();
    computer.SetPhotosNamedByCapture(args.carvedNames != "offset");
    recovery::CRecovery engine(computer);
    engine.NewFilesOwner = platform::InvokingUser();
    // The handlers name the session and the engine: they go before those do.
    const InterruptWatch::Handlers handlers(interrupts, [&session] { session.RequestStop(); });
    devices::CVolume* volume = args.found != 0
                                   ? OpenFoundVolume(session, args.target, args.found)
                                   : OpenTarget(session, args.target, args.volume, args.deep);
    if (volume == nullptr)
        return session.OpenFailure();
    // The destination is checked before the analysis, which may take hours.
    if (const std::string problem = engine.DestinationProblem(args.destination, volume);
        !problem.empty()) {
        std::fprintf(stderr, "error: %s\n", TerminalText(problem).c_str());
        return kBadInput;
    }
    std::optional<RecoverReport> report;
    if (args.reportGiven) {
        if (const std::string problem = ReportPlaceProblem(args.report, computer, *volume);
            !problem.empty()) {
            std::fprintf(stderr, "error: %s\n", TerminalText(problem).c_str());
            return kBadInput;
        }
        report.emplace(args.report, RunJson(args, *volume, started));
    }
    OptionAnswers answers(*sizes);
    engine.SetQuestions(&answers);
    RecoverySummary summary;
    std::vector<recovery::FileResult> results;
    std::vector<VolumePart> parts =
        PartsOf(session, *volume, args.found != 0 ? args.found : args.volume);
    bool unlistable = false;  // a partition whose files could not be listed
    for (std::size_t index = 0; index < parts.size(); ++index) {
        const VolumePart part = parts[index];  // a copy: the list may grow
        interrupts.OnFirst([&session] { session.RequestStop(); });
        const int interruptsBefore = interrupts.Count();
        if (interruptsBefore != 0)
            break;  // stopped during an earlier part: what it found is written, no more
        if (!part.analysed)
            AnalyseVolume(session, *part.volume, args.deep);
        unlistable = ReportUnlistablePart(part, args.deep) || unlistable;
        std::set<std::uint64_t> listedStarts;
        const std::vector<VolumePart> found =
            AnalyseFoundVolumes(session, part, args.deep, listedStarts);
        parts.insert(parts.end(), found.begin(), found.end());
        if (interrupts.Count() != 0)
            std::fprintf(stderr, "The analysis was stopped; recovering what it found so far.\n");
        engine.RecoveryList.clear();
        Select(args, part, engine, summary, listedStarts);
        if (args.intactOnly)
            KeepIntactPhotos(session, *part.volume, engine, summary);
        if (engine.RecoveryList.empty())
            continue;
        const bool stoppedBefore = interrupts.Count() != 0;
        // The engine reads the active volume; other parts may have been analysed since.
        computer.ActiveVolume = part.volume;
        RecoverProgress progress(engine);
        engine.StartRecovery(part.folder.empty()
                                 ? std::filesystem::path(args.destination)
                                 : std::filesystem::path(args.destination) / part.folder);
        interrupts.OnFirst([&engine] { engine.AbortRecovery(); });
        interrupts.OnSecond([&engine] { engine.DiscardPartialFile(); });
        // One that came while the handlers changed is not lost.
        if (!stoppedBefore && interrupts.Count() != 0)
            engine.AbortRecovery();
        progress.Follow();
        engine.Wait();
        interrupts.OnSecond({});
        JudgeWrittenPhotos(engine, session.StopFlag());
        if (report)
            report->AddRun(part, engine);
        TallyResults(engine, summary);
        results.insert(results.end(), engine.Results.begin(), engine.Results.end());
        if (engine.DestinationFull)
            break;
    }
    summary.interrupted = interrupts.Interrupted();
    summary.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Written after a stop too: it says what was done.
    bool reportWritten = false;
    std::string reportProblem;
    if (report) {
        nlohmann::ordered_json totals = SummaryJson(summary, {}, args.destination);
        totals.erase("destination");
        totals.erase("files");
        reportProblem = report->Write(totals);
        reportWritten = reportProblem.empty();
        if (!reportWritten)
            std::fprintf(stderr, "error: %s\n", TerminalText(reportProblem).c_str());
    }
    int code = summary.AllWhole() && !unlistable ? kDone : kDoneWithFailures;
    if (!reportProblem.empty())
        code = kDoneWithFailures;
    // A script reading --json gets JSON, also when nothing was selected; the hints are for
    // the person.
    if (summary.selected == 0)
        SuggestNextStep(args, summary, args.json ? stderr : stdout);
    if (args.json) {
        nlohmann::ordered_json json = SummaryJson(summary, results, args.destination);
        json["report"] = reportWritten ? nlohmann::ordered_json(args.report) : nullptr;
        std::cout << json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    } else if (summary.selected != 0) {
        PrintSummary(summary, args.destination);
    }
    if (reportWritten && !args.json)
        std::printf("The report is in %s\n", args.report.c_str());
    return code;
}

}  // namespace

void AddRecoverCommand(CLI::App& app, CommandBody& body, const GlobalOptions& options) {
    auto args = std::make_shared<RecoverArguments>();
    CLI::App* recover =
        app.add_subcommand("recover", "Write the files of a volume into a folder on another drive");
    recover->add_option("TARGET", args->target, kTargetHelp)->required();
    recover
        ->add_option("DEST", args->destination, "The folder to write into (created when missing)")
        ->required();
    recover->add_option("--volume", args->volume, kVolumeHelp);
    recover->add_option("--found", args->found, kFoundHelp);
    recover->add_flag("--deep", args->deep, "Also recover files found by their signatures");
    recover->add_flag("--intact-only", args->intactOnly,
                      "Only photos that decode whole (JPEG, PNG, GIF, TIFF and RAW); other "
                      "files as selected");
    recover
        ->add_option("--carved-names", args->carvedNames,
                     "Names of photos found by their signatures: capture (their EXIF date, time "
                     "and camera, the default) or offset (prefix and position, IMG_215769088.jpg)")
        ->check(CLI::IsMember({"capture", "offset"}));
    recover->add_flag("--deleted-only", args->deletedOnly, "Only deleted files");
    recover->add_flag("--include-system", args->includeSystem,
                      "Also write the file system's own files (NTFS $MFT, $LogFile...)");
    recover->add_flag("--include-overwritten", args->includeOverwritten,
                      "Also write deleted files whose clusters another file now uses");
    recover->add_flag("--json", args->json, "The summary and every file's outcome as JSON");
    recover
        ->add_option("--report", args->report,
                     "Also write a JSON record of the run to FILE: every selected file, what "
                     "became of it and the SHA-256 of what was written (FILE must be new and "
                     "not on the drive being read)")
        ->type_name("FILE");
    AddMatchOption(*recover, args->match);
    recover
        ->add_option("--size-method", args->sizeMethod,
                     "Where a carved file whose format records no length ends: next-any (up "
                     "to the next file found; the default), next-same (up to the next file of "
                     "the same type), typical (the format's typical size) or custom:SIZE "
                     "(custom:10MB)")
        ->type_name("METHOD");
    recover->callback([&body, &options, args, recover] {
        args->reportGiven = recover->count("--report") != 0;
        body = [&options, args] { return Recover(options, *args); };
    });
}

}  // namespace duzez::cli
